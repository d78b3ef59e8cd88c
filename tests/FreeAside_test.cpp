#include "engine/FreeAside.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace contavio
