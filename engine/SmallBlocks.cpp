#include "SmallBlocks.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONTAVIO_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define CONTAVIO_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CONTAVIO_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define CONTAVIO_TSAN 1
#endif

#if defined(CONTAVIO_ASAN)
#include <sanitizer/asan_interface.h>
#define CONTAVIO_POISON(at, size) ASAN_POISON_MEMORY_REGION(at, size)
#define CONTAVIO_UNPOISON(at, size) ASAN_UNPOISON_MEMORY_REGION(at, size)
#else
#define CONTAVIO_POISON(at, size) ((void)(at), (void)(size))
#define CONTAVIO_UNPOISON(at, size) ((void)(at), (void)(size))
#endif

namespace contavio {
namespace {

// Records are kept in sizes that are multiples of kGrain, so each lies on
// kGrain bytes like the records themselves (none asks for more).
constexpr std::size_t kGrain = 8;
constexpr std::size_t kSizes = kLargestSmallBlock / kGrain;
constexpr std::size_t kFirstBlock = std::size_t{16} << 10;
constexpr std::size_t kLargestBlock = std::size_t{1} << 20;

#if defined(CONTAVIO_TSAN)
constexpr bool kKeptInBlocks = false;
#else
constexpr bool kKeptInBlocks = true;
#endif

bool keptInBlocks(std::size_t size) {
    return kKeptInBlocks && size > 0 && size <= kLargestSmallBlock;
}
std::size_t sizeIndex(std::size_t size) { return (size + kGrain - 1) / kGrain - 1; }
std::size_t recordBytes(std::size_t index) { return (index + 1) * kGrain; }

struct FreedRecord {
    FreedRecord* next;
};

// The memory of one record size that one thread holds: records freed and
// waiting for reuse, and the part of its newest block not carved yet.
struct Shelf {
    FreedRecord* freed = nullptr;
    char* uncarved = nullptr;
    char* end = nullptr;
    std::size_t nextBlock = kFirstBlock;
};

// What all threads share, under the mutex: every block ever made, and what
// ended threads left behind, for the others to take.
struct Common {
    std::mutex mutex;
    std::vector<void*> blocks;
    std::vector<FreedRecord*> freedLists[kSizes];
    std::vector<std::pair<char*, char*>> uncarved[kSizes];
    Shelf afterExit[kSizes];  // for frees and makes on a thread whose shelves are gone
};

Common& common() {
    static Common* const shared = new Common();  // outlives every thread
    return *shared;
}

// Fills an empty shelf: with what an ended thread left, or a new block.
// REQUIRES: common().mutex held.
void refill(Shelf& shelf, std::size_t index) {
    Common& all = common();
    if (!all.freedLists[index].empty()) {
        shelf.freed = all.freedLists[index].back();
        all.freedLists[index].pop_back();
        return;
    }
    if (!all.uncarved[index].empty()) {
        std::tie(shelf.uncarved, shelf.end) = all.uncarved[index].back();
        all.uncarved[index].pop_back();
        return;
    }
    const std::size_t bytes = shelf.nextBlock;
    all.blocks.reserve(all.blocks.size() + 1);  // a throw here leaves no block unrecorded
    char* block = static_cast<char*>(::operator new(bytes));
    all.blocks.push_back(block);
    CONTAVIO_POISON(block, bytes);
    shelf.uncarved = block;
    shelf.end = block + bytes / recordBytes(index) * recordBytes(index);
    shelf.nextBlock = std::min(bytes * 2, kLargestBlock);
}

// A record from the shelf; nullptr when it is empty.
void* take(Shelf& shelf, std::size_t index) {
    if (shelf.freed != nullptr) {
        FreedRecord* record = shelf.freed;
        CONTAVIO_UNPOISON(record, recordBytes(index));
        shelf.freed = record->next;
        return record;
    }
    if (static_cast<std::size_t>(shelf.end - shelf.uncarved) >= recordBytes(index)) {
        char* record = shelf.uncarved;
        shelf.uncarved += recordBytes(index);
        CONTAVIO_UNPOISON(record, recordBytes(index));
        return record;
    }
    return nullptr;
}

void put(Shelf& shelf, std::size_t index, void* block) {
    auto* record = static_cast<FreedRecord*>(block);
    record->next = shelf.freed;
    shelf.freed = record;
    CONTAVIO_POISON(record, recordBytes(index));
}

thread_local bool tShelvesGone = false;  // trivially destroyed: readable to the thread's end

struct Shelves {
    Shelf bySize[kSizes];

    Shelves() = default;
    Shelves(const Shelves&) = delete;
    Shelves& operator=(const Shelves&) = delete;
    // The thread ends: what it holds goes to the threads that go on.
    ~Shelves() {
        Common& all = common();
        const std::lock_guard<std::mutex> lock(all.mutex);
        for (std::size_t index = 0; index < kSizes; ++index) {
            const Shelf& shelf = bySize[index];
            if (shelf.freed != nullptr) all.freedLists[index].push_back(shelf.freed);
            if (shelf.uncarved < shelf.end)
                all.uncarved[index].emplace_back(shelf.uncarved, shelf.end);
        }
        tShelvesGone = true;
    }
};

Shelves& shelves() {
    thread_local Shelves mine;
    return mine;
}

}  // namespace

void* smallBlockAllocate(std::size_t size) {
    if (!keptInBlocks(size)) return ::operator new(size);
    const std::size_t index = sizeIndex(size);
    if (tShelvesGone) {
        Common& all = common();
        const std::lock_guard<std::mutex> lock(all.mutex);
        Shelf& shelf = all.afterExit[index];
        if (void* record = take(shelf, index)) return record;
        refill(shelf, index);
        return take(shelf, index);
    }
    Shelf& shelf = shelves().bySize[index];
    if (void* record = take(shelf, index)) return record;
    {
        Common& all = common();
        const std::lock_guard<std::mutex> lock(all.mutex);
        refill(shelf, index);
    }
    return take(shelf, index);
}

void smallBlockFree(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    if (!keptInBlocks(size)) {
        ::operator delete(block);
        return;
    }
    const std::size_t index = sizeIndex(size);
    if (tShelvesGone) {
        Common& all = common();
        const std::lock_guard<std::mutex> lock(all.mutex);
        put(all.afterExit[index], index, block);
        return;
    }
    put(shelves().bySize[index], index, block);
}

}  // namespace contavio
