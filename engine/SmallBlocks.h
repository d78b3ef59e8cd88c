// Memory for the store's many small records - elements, chain nodes, list
// headers and list nodes - carved from large blocks instead of one heap
// block each. A book of a million contacts holds about eight million of
// them: carved, each costs its own size and no heap header, they lie side by
// side in the order made, and freeing one is a push onto a list.
//
// The records' classes route their own operator new and delete here, so
// every way of making one (new, std::make_unique) and of freeing one (delete,
// std::unique_ptr) goes through it, and their layout stays as declared.
//
// Each thread carves and reuses memory of its own without locking. Blocks
// are never handed back to the system: a freed record's memory waits for the
// next record of its size. A record may be freed on any thread, whichever
// made it: the freeing thread keeps at most two batches of each size (about
// 64 KB each) and hands further full batches to a list that every thread
// takes from before it makes a new block; a thread that ends hands over all
// it holds. So a thread that makes sets for another to free reuses the
// memory freed there. The largest blocks (from 2 MB) are mapped on a huge
// page's boundary and offered to the kernel for huge pages; the store's
// large arrays read at random are offered the same way (adviseHugePages).
//
// Sizes above kLargestSmallBlock, and every size in a build with
// AddressSanitizer or ThreadSanitizer (whose checks need the heap's own
// calls), go to the heap, so that those builds report leaked records and
// records used after they were freed.
#pragma once

#include <cstddef>
#include <new>

namespace contavio {

inline constexpr std::size_t kLargestSmallBlock = 256;

void* smallBlockAllocate(std::size_t size);
void smallBlockFree(void* block, std::size_t size) noexcept;

// Asks the kernel to back the huge pages that lie wholly inside
// [data, data + bytes) with huge pages when first written: for a large array
// of the store that is read at random (a key index, a bucket table), about to
// be filled. It then costs one page fault per two megabytes instead of one
// per four kilobytes, and its reads miss the TLB far less. A hint: where the
// kernel refuses, nothing changes.
void adviseHugePages(void* data, std::size_t bytes) noexcept;

// v resized to n items; when it grows for them, in memory advised so.
template <class Vector>
void resizeOnHugePages(Vector& v, std::size_t n) {
    if (n > v.capacity()) {
        v.reserve(n);
        adviseHugePages(v.data(), v.capacity() * sizeof(*v.data()));
    }
    v.resize(n);
}

// Declares the class-specific operator new and delete of a record kept in
// small blocks. The sized delete receives the size of the object being freed,
// the dynamic type's size when it is freed through a virtual destructor. A
// derived type aligned beyond what blocks give (alignas above 16) takes the
// heap's aligned forms instead.
#define CONTAVIO_SMALL_BLOCKS                                                                    \
    static void* operator new(std::size_t size) { return ::contavio::smallBlockAllocate(size); } \
    static void operator delete(void* block, std::size_t size) noexcept {                        \
        ::contavio::smallBlockFree(block, size);                                                 \
    }                                                                                            \
    static void* operator new(std::size_t size, std::align_val_t align) {                        \
        return ::operator new(size, align);                                                      \
    }                                                                                            \
    static void operator delete(void* block, std::align_val_t align) noexcept {                  \
        ::operator delete(block, align);                                                         \
    }

}  // namespace contavio
