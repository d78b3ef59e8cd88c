#include "engine/SmallBlocks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/Elemento.h"
#include "engine/UhashElem.h"

#if defined(__SANITIZE_ADDRESS__)
#define CONTAVIO_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONTAVIO_TEST_ASAN 1
#endif
#endif
#if defined(CONTAVIO_TEST_ASAN)
#include <sanitizer/lsan_interface.h>
#endif

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

// A type derived from an element, aligned beyond what blocks give, lies on
// its alignment.
TEST(SmallBlocksTest, AnOverAlignedDerivedElementLiesOnItsAlignment) {
    struct Wide : TElem {
        alignas(64) unsigned char lane[8] = {};
    };
    struct Wider : TElem {
        alignas(128) unsigned char lane[8] = {};
    };
    std::vector<std::unique_ptr<TElem>> made;
    for (int i = 0; i < 8; ++i) {
        auto wide = std::make_unique<Wide>();
        auto wider = std::make_unique<Wider>();
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wide.get()) % 64, 0u);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(wider.get()) % 128, 0u);
        made.push_back(std::move(wide));
        made.push_back(std::move(wider));
    }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CONTAVIO_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CONTAVIO_TEST_SANITIZED 1
#endif
#endif

#if !defined(CONTAVIO_TEST_SANITIZED)
// The process's resident bytes.
size_t residentBytes() {
    size_t pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%zu %zu", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// A long-lived thread makes the records of a set again and again while
// another frees each round: the freed memory comes back to the maker, so the
// heap does not grow round after round.
TEST(SmallBlocksTest, RecordsFreedOnAnotherThreadAreMadeAgain) {
    constexpr size_t kRecords = 60000, kSize = 48, kRounds = 12;
    std::vector<void*> made;
    std::mutex mutex;
    std::condition_variable turn;
    bool madeRound = false;
    std::vector<size_t> heap;
    std::thread maker([&] {
        for (size_t round = 0; round < kRounds; ++round) {
            std::unique_lock<std::mutex> lock(mutex);
            turn.wait(lock, [&] { return !madeRound; });
            for (size_t i = 0; i < kRecords; ++i) made.push_back(smallBlockAllocate(kSize));
            heap.push_back(residentBytes());
            madeRound = true;
            turn.notify_all();
        }
    });
    for (size_t round = 0; round < kRounds; ++round) {
        std::unique_lock<std::mutex> lock(mutex);
        turn.wait(lock, [&] { return madeRound; });
        for (void* record : made) smallBlockFree(record, kSize);
        made.clear();
        madeRound = false;
        turn.notify_all();
    }
    maker.join();
    // One round's records, with room to spare, past the second round.
    EXPECT_LT(heap.back(), heap[1] + kRecords * kSize) << "grew from " << heap[1];
}
#endif

#if defined(CONTAVIO_TEST_ASAN)
// Under AddressSanitizer records are the heap's: a stale element pointer is
// reported even once another element has been made, and a leaked element is
// found by LeakSanitizer.
TEST(SmallBlocksDeathTest, AFreedElementIsReportedEvenAfterAnotherIsMade) {
    EXPECT_DEATH(
        {
            auto* elem = new TElem();
            delete elem;
            auto* next = new TElem();
            elem->nStr = 7;
            delete next;
        },
        "heap-use-after-free");
}

// The address of a leaked element, hidden from LeakSanitizer's scan.
std::uintptr_t gHidden = 0;
constexpr std::uintptr_t kMask = 0x5A5A5A5A5A5A5A5A;

__attribute__((noinline)) void leakOne() {
    auto* node = new nodoHash();
    node->elem = std::make_unique<TElem>();
    gHidden = reinterpret_cast<std::uintptr_t>(node) ^ kMask;
}

TEST(SmallBlocksTest, LeakSanitizerFindsALeakedElementAndNode) {
    leakOne();
    EXPECT_NE(__lsan_do_recoverable_leak_check(), 0);
    delete reinterpret_cast<nodoHash*>(gHidden ^ kMask);
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
}
#endif

}  // namespace
}  // namespace contavio
