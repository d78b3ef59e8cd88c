// A singly linked stack of 32-bit integers, laid out like strList: the item
// pushed last is met first when iterating.
#pragma once

#include <cstdint>
#include <memory>

#include "SmallBlocks.h"

namespace contavio {

struct nodoIntList {
    CONTAVIO_SMALL_BLOCKS
    int32_t value = 0;
    std::unique_ptr<nodoIntList> next;  // owned; none at the oldest node
};

struct intList {
    CONTAVIO_SMALL_BLOCKS
    std::unique_ptr<nodoIntList> head;  // the node pushed last
    nodoIntList* tail = nullptr;        // the oldest node (borrowed)
    nodoIntList* cursor = nullptr;      // iteration cursor (borrowed)
    int32_t count = 0;

    intList() = default;
    intList(const intList&) = delete;
    intList& operator=(const intList&) = delete;
    ~intList();  // frees the nodes in a loop, never by recursion
};

intList* newIntList();
void pushIntList(intList* list, int32_t value);
int32_t countIntList(const intList* list);
void popIntList(intList* list);
// Pops every node, releases the header and leaves the caller's pointer none;
// an absent list (nullptr) is left alone.
void freeIntList(intList*& list);
void firstIntList(intList* list);
// REQUIRES: cursor on a node.
bool nextIntList(intList* list);
// REQUIRES: cursor on a node. The cursor node's value.
int32_t curIntList(const intList* list);

}  // namespace contavio
