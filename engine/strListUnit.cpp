#include "strListUnit.h"

#include "basicOps.h"

namespace contavio {

strList::~strList() {
    // Unlink node by node: a long chain must not unwind recursively.
    while (head) head = std::move(head->next);
}

strList* newStrList() { return new strList(); }

void pushStrList(strList* list, const std::string& text) {
    auto node = std::make_unique<nodoStrList>();
    node->value = copyStr(text);
    node->next = std::move(list->head);
    list->head = std::move(node);
    if (list->count == 0) list->tail = list->head.get();
    ++list->count;
}

bool isEmptyStrList(const strList* list) { return list->count == 0; }

int32_t countStrList(const strList* list) { return list->count; }

void popStrList(strList* list) {
    if (list->count <= 0) return;
    list->head = std::move(list->head->next);
    --list->count;
    if (list->count == 0) list->tail = nullptr;
}

void freeStrList(strList*& list) {
    while (list->count > 0) popStrList(list);
    delete list;
    list = nullptr;
}

void firstStrList(strList* list) { list->cursor = list->head.get(); }

bool nextStrList(strList* list) {
    list->cursor = list->cursor->next.get();
    return list->cursor != nullptr;
}

void curStrList(const strList* list, std::string& text) { text = copyStr(list->cursor->value); }

}  // namespace contavio
