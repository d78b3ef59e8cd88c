#include "SmallBlocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CONTAVIO_SANITIZED_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CONTAVIO_SANITIZED_HEAP 1
#endif

namespace contavio {
namespace {

// Records are kept in sizes that are multiples of kGrain, carved one after
// another from blocks that lie on 16 bytes: a record whose size is a multiple
// of 16 lies on 16 bytes, which covers every type the default operator new
// serves (a type's alignment divides its size).
constexpr std::size_t kGrain = 8;
constexpr std::size_t kSizes = kLargestSmallBlock / kGrain;
constexpr std::size_t kFirstBlock = std::size_t{16} << 10;
// A thread that fills a large set asks for blocks of this size at last. They
// come straight from the system, on a huge page's boundary, and the kernel is
// asked to back them with huge pages: a million contacts then cost a few
// hundred page faults instead of two hundred thousand.
constexpr std::size_t kLargestBlock = std::size_t{4} << 20;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Freed records travel between threads in batches of about this many bytes.
constexpr std::size_t kBatchBytes = std::size_t{64} << 10;

// The sanitizers' checks need the heap's own calls: there every record is a
// heap block, so that leaks and use after free are reported as for any other.
#if defined(CONTAVIO_SANITIZED_HEAP)
constexpr bool kKeptInBlocks = false;
#else
constexpr bool kKeptInBlocks = true;
#endif

bool keptInBlocks(std::size_t size) {
    return kKeptInBlocks && size > 0 && size <= kLargestSmallBlock;
}
std::size_t sizeIndex(std::size_t size) { return (size + kGrain - 1) / kGrain - 1; }
std::size_t recordBytes(std::size_t index) { return (index + 1) * kGrain; }
std::size_t batchRecords(std::size_t index) {
    return std::max<std::size_t>(32, kBatchBytes / recordBytes(index));
}

struct FreedRecord {
    FreedRecord* next;
};

// A chain of freed records of one size and its length.
struct Batch {
    FreedRecord* head = nullptr;
    std::size_t count = 0;
};

// The memory of one record size that one thread holds: records freed and
// waiting for reuse (at most two batches' worth: more go to the threads in
// common), and the part of its newest block not carved yet.
struct Shelf {
    Batch freed;
    Batch spare;  // a full batch, or none
    char* uncarved = nullptr;
    char* end = nullptr;
    std::size_t nextBlock = kFirstBlock;
};

// What all threads share, under the mutex: every block made, the batches of
// freed records that any thread takes before it makes a new block, and what
// ended threads left uncarved.
struct Common {
    std::mutex mutex;
    std::vector<std::pair<void*, bool>> blocks;  // with whether mapped by hand
    std::vector<Batch> batches[kSizes];
    std::vector<std::pair<char*, char*>> uncarved[kSizes];
    Shelf afterExit[kSizes];  // for frees and makes on a thread whose shelves are gone
};

Common& common() {
    static Common* const shared = new Common();  // outlives every thread
    return *shared;
}

// bytes on a huge page's boundary, straight from the system; nullptr when it
// has none to give.
void* mapAligned(std::size_t bytes) {
    const std::size_t length = bytes + kHugePage;
    void* mapped =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* const start = static_cast<char*>(mapped);
    const auto at = reinterpret_cast<std::uintptr_t>(start);
    char* const aligned = start + ((kHugePage - at % kHugePage) % kHugePage);
    // The slack before and after goes back; what stays is the aligned block.
    if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
    const std::size_t after = length - static_cast<std::size_t>(aligned - start) - bytes;
    if (after > 0) ::munmap(aligned + bytes, after);
#if defined(MADV_HUGEPAGE)
    ::madvise(aligned, bytes, MADV_HUGEPAGE);  // a hint: refused, the block still serves
#endif
    return aligned;
}

// Fills an empty shelf: with a batch that another thread freed, what an
// ended thread left, or a new block.
// REQUIRES: common().mutex held.
void refill(Shelf& shelf, std::size_t index) {
    Common& all = common();
    if (!all.batches[index].empty()) {
        shelf.freed = all.batches[index].back();
        all.batches[index].pop_back();
        return;
    }
    if (!all.uncarved[index].empty()) {
        std::tie(shelf.uncarved, shelf.end) = all.uncarved[index].back();
        all.uncarved[index].pop_back();
        return;
    }
    const std::size_t bytes = shelf.nextBlock;
    all.blocks.reserve(all.blocks.size() + 1);  // a throw here leaves no block unrecorded
    void* block = bytes >= kHugePage ? mapAligned(bytes) : nullptr;
    const bool mapped = block != nullptr;
    if (!mapped) block = ::operator new(bytes);
    all.blocks.emplace_back(block, mapped);
    shelf.uncarved = static_cast<char*>(block);
    shelf.end = shelf.uncarved + bytes / recordBytes(index) * recordBytes(index);
    shelf.nextBlock = std::min(bytes * 2, kLargestBlock);
}

// A record from the shelf; nullptr when it is empty.
void* take(Shelf& shelf, std::size_t index) {
    if (shelf.freed.head == nullptr && shelf.spare.head != nullptr) {
        shelf.freed = shelf.spare;
        shelf.spare = Batch{};
    }
    if (shelf.freed.head != nullptr) {
        FreedRecord* record = shelf.freed.head;
        shelf.freed.head = record->next;
        --shelf.freed.count;
        return record;
    }
    if (static_cast<std::size_t>(shelf.end - shelf.uncarved) >= recordBytes(index)) {
        char* record = shelf.uncarved;
        shelf.uncarved += recordBytes(index);
        return record;
    }
    return nullptr;
}

// Puts a freed record on the shelf. Returns a full batch that the shelf no
// longer keeps, for the caller to hand to the others; none most of the time.
Batch put(Shelf& shelf, std::size_t index, void* block) {
    auto* record = static_cast<FreedRecord*>(block);
    record->next = shelf.freed.head;
    shelf.freed.head = record;
    if (++shelf.freed.count < batchRecords(index)) return Batch{};
    const Batch out = shelf.spare;
    shelf.spare = shelf.freed;
    shelf.freed = Batch{};
    return out;
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
            if (shelf.freed.head != nullptr) all.batches[index].push_back(shelf.freed);
            if (shelf.spare.head != nullptr) all.batches[index].push_back(shelf.spare);
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

void adviseHugePages(void* data, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (at + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t last = (at + bytes) / kHugePage * kHugePage;
    if (data == nullptr || last <= first) return;
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    static_cast<void>(data);
    static_cast<void>(bytes);
#endif
}

void smallBlockFree(void* block, std::size_t size) noexcept {
    if (block == nullptr) return;
    if (!keptInBlocks(size)) {
#if defined(__cpp_sized_deallocation)
        ::operator delete(block, size);  // the sanitizers check the size against the make
#else
        ::operator delete(block);
#endif
        return;
    }
    const std::size_t index = sizeIndex(size);
    Common& all = common();
    std::unique_lock<std::mutex> lock(all.mutex, std::defer_lock);
    Batch full;
    if (tShelvesGone) {
        lock.lock();
        full = put(all.afterExit[index], index, block);
    } else {
        full = put(shelves().bySize[index], index, block);
        if (full.head != nullptr) lock.lock();
    }
    if (full.head == nullptr) return;
    try {
        all.batches[index].push_back(full);
    } catch (const std::bad_alloc&) {
        // No room to hand the batch over: its records are lost to reuse.
    }
}

}  // namespace contavio
