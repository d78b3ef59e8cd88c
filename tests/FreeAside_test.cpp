#include "engine/FreeAside.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Worker.h"

namespace contavio {
namespace {

struct Freed {
    std::mutex mutex;
    std::vector<int> order;
    std::thread::id on;

    size_t count() {
        const std::lock_guard<std::mutex> lock(mutex);
        return order.size();
    }
};

struct Tracked {
    Tracked(Freed& freed, int id) : freed(freed), id(id) {}
    ~Tracked() {
        const std::lock_guard<std::mutex> lock(freed.mutex);
        freed.order.push_back(id);
        freed.on = std::this_thread::get_id();
    }
    Freed& freed;
    int id;
};

// Everything handed over is freed, in the order handed: on the freeing
// thread once finishFreeingAside returns, or at once on the caller's when no
// second thread can be had.
TEST(FreeAsideTest, WhatIsHandedOverIsFreedInOrder) {
    Freed freed;
    for (int id = 1; id <= 3; ++id) freeAside(std::make_unique<Tracked>(freed, id));
    if (!workersAllowed()) {
        EXPECT_EQ(freed.count(), 3u) << "freed at once";
    }
    finishFreeingAside();
    const std::lock_guard<std::mutex> lock(freed.mutex);
    EXPECT_EQ(freed.order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(freed.on == std::this_thread::get_id(), !workersAllowed());
}

// Stands for a large result: declares its bytes without holding them.
struct Ballast {
    explicit Ballast(std::atomic<size_t>& live) : live(live) { ++live; }
    ~Ballast() { --live; }
    std::atomic<size_t>& live;
};
constexpr size_t kBallastBytes = size_t{4} << 20;
size_t asideBytes(const Ballast&) { return kBallastBytes; }

// Results handed over faster than the quiet moment the freeing thread waits
// for: what waits stays bounded however many rounds there are.
TEST(FreeAsideTest, WhatWaitsToBeFreedStaysBoundedRoundAfterRound) {
    std::atomic<size_t> live{0};
    size_t most = 0;
    for (size_t round = 0; round < 3 * kFreeAsideMost / kBallastBytes; ++round) {
        freeAside(std::make_unique<Ballast>(live));
        most = std::max<size_t>(most, live);
    }
    EXPECT_LE(most * kBallastBytes, kFreeAsideMost + kBallastBytes);
    finishFreeingAside();
    EXPECT_EQ(live, 0u);
}

}  // namespace
}  // namespace contavio
