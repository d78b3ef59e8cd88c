#include "IntListUnit.h"

namespace contavio {

intList::~intList() {
    while (head) head = std::move(head->next);
}

intList* newIntList() { return new intList(); }

void pushIntList(intList* list, int32_t value) {
    auto node = std::make_unique<nodoIntList>();
    node->value = value;
    node->next = std::move(list->head);
    list->head = std::move(node);
    if (list->count == 0) list->tail = list->head.get();
    ++list->count;
}

int32_t countIntList(const intList* list) { return list->count; }

void popIntList(intList* list) {
    if (list->count <= 0) return;
    list->head = std::move(list->head->next);
    --list->count;
    if (list->count == 0) list->tail = nullptr;
}

void freeIntList(intList*& list) {
    if (list == nullptr) return;
    while (list->count > 0) popIntList(list);
    delete list;
    list = nullptr;
}

void firstIntList(intList* list) { list->cursor = list->head.get(); }

bool nextIntList(intList* list) {
    list->cursor = list->cursor->next.get();
    return list->cursor != nullptr;
}

int32_t curIntList(const intList* list) { return list->cursor->value; }

}  // namespace contavio
