// A singly linked stack of strings: items go in and out at the head, so the
// item pushed last is met first when iterating ("newest first").
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "SmallBlocks.h"

namespace contavio {

struct nodoStrList {
    CONTAVIO_SMALL_BLOCKS
    std::string value;                  // a copy made by copyStr
    std::unique_ptr<nodoStrList> next;  // owned; none at the oldest node
};

// The header owns its nodes. Invariants: count is the number of nodes
// reachable from head; head and tail are both none exactly when count is 0.
struct strList {
    CONTAVIO_SMALL_BLOCKS
    std::unique_ptr<nodoStrList> head;  // the node pushed last
    nodoStrList* tail = nullptr;        // the oldest node (borrowed)
    nodoStrList* cursor = nullptr;      // iteration cursor (borrowed)
    int32_t count = 0;

    strList() = default;
    strList(const strList&) = delete;
    strList& operator=(const strList&) = delete;
    ~strList();  // frees the nodes in a loop, never by recursion
};

// A new empty list; the caller owns it and releases it with freeStrList.
strList* newStrList();
// Pushes copyStr(text) in front of head; count + 1.
void pushStrList(strList* list, const std::string& text);
bool isEmptyStrList(const strList* list);
int32_t countStrList(const strList* list);
// Removes the head node; does nothing on an empty list. The cursor is not
// moved: callers iterate only while nothing is pushed or popped.
void popStrList(strList* list);
// Pops every node, releases the header and leaves the caller's pointer none.
// REQUIRES: list != nullptr.
void freeStrList(strList*& list);
// cursor := head.
void firstStrList(strList* list);
// REQUIRES: cursor on a node. Moves to the next node; false when that is none.
bool nextStrList(strList* list);
// REQUIRES: cursor on a node. text := copyStr of the cursor node's value.
void curStrList(const strList* list, std::string& text);

}  // namespace contavio
