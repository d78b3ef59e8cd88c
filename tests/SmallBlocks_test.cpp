#include "engine/SmallBlocks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include "engine/Elemento.h"

namespace contavio {
namespace {

struct Record {
    unsigned char* at;
    size_t size;
    unsigned char mark;
};

Record make(size_t size, unsigned char mark) {
    auto* at = static_cast<unsigned char*>(smallBlockAllocate(size));
    std::memset(at, mark, size);
    return {at, size, mark};
}

void expectIntact(const std::vector<Record>& records) {
    std::map<const unsigned char*, const Record*> byAddress;
    for (const Record& r : records) {
        for (size_t i = 0; i < r.size; ++i) ASSERT_EQ(r.at[i], r.mark) << "size " << r.size;
        ASSERT_TRUE(byAddress.emplace(r.at, &r).second) << "two live records at one address";
    }
    // Live records never overlap.
    const Record* previous = nullptr;
    for (const auto& [address, record] : byAddress) {
        if (previous != nullptr) {
            ASSERT_LE(previous->at + previous->size, address);
        }
        previous = record;
    }
}

// Records made on one thread, freed on another or after their thread ended,
// and memory made again in their place: each live record keeps its bytes and
// none overlaps another, for every size that blocks keep and one above.
TEST(SmallBlocksTest, RecordsKeepTheirBytesWhicheverThreadMakesOrFreesThem) {
    const std::vector<size_t> sizes = {1, 8, 16, 24, 40, 48, 168, 255, 256, kLargestSmallBlock + 1};
    std::vector<Record> live;
    unsigned char mark = 1;
    std::thread maker([&] {
        for (int round = 0; round < 300; ++round) {
            for (size_t size : sizes) live.push_back(make(size, mark++));
        }
    });
    maker.join();  // its memory now belongs to the threads that go on
    expectIntact(live);

    // Free every other record here, then make as many again on two threads.
    std::vector<Record> kept;
    for (size_t i = 0; i < live.size(); ++i) {
        if (i % 2 == 0) {
            smallBlockFree(live[i].at, live[i].size);
        } else {
            kept.push_back(live[i]);
        }
    }
    std::vector<Record> mine, theirs;
    std::thread other([&] {
        for (int round = 0; round < 150; ++round) {
            for (size_t size : sizes) theirs.push_back(make(size, 0xA5));
        }
    });
    for (int round = 0; round < 150; ++round) {
        for (size_t size : sizes) mine.push_back(make(size, 0x5A));
    }
    other.join();
    kept.insert(kept.end(), mine.begin(), mine.end());
    kept.insert(kept.end(), theirs.begin(), theirs.end());
    expectIntact(kept);
    for (const Record& r : kept) smallBlockFree(r.at, r.size);
}

#if defined(__SANITIZE_ADDRESS__)
#define CONTAVIO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONTAVIO_TEST_ASAN 1
#endif
#endif

#if defined(CONTAVIO_TEST_ASAN)
// A freed element's memory waits for reuse inside a block; touching it is
// still reported as the heap would report it.
TEST(SmallBlocksDeathTest, AFreedElementIsNotReadableUntilMadeAgain) {
    EXPECT_DEATH(
        {
            auto* elem = new TElem();
            delete elem;
            volatile int32_t n = elem->nStr;
            (void)n;
        },
        "use-after-poison");
}
#endif

}  // namespace
}  // namespace contavio
