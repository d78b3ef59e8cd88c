#include "StoreOps.h"

#include <algorithm>

namespace contavio::bench {

namespace {

const iVector kSearchFields = {kFieldNames, kFieldSurnames, kFieldAddress};
const iVector kDisplayFields = {kFieldNames, kFieldSurnames, kFieldAddress};

// No generated value holds a control character, so this text matches nothing.
const std::string kMatchesNothing = "\x01\x02";

}  // namespace

TprotoData contactProto() {
    TprotoData proto;
    proto.setData(0, kStringFields, 0);
    proto.setListData(0, kStringLists, 0);
    return proto;
}

void newContactSet(TConjuntos& store, int32_t buckets) {
    store.newSet(kSlot, buckets, 0, kSetName, kFieldKey);
    store.setSetProto(kSlot, contactProto());
}

bool commitContacts(TConjuntos& store, const TprotoData& proto, const std::vector<Contact>& book,
                    Clock::time_point deadline) {
    static const iVector noInts;
    static const fVector noFloats;
    size_t i = 0;
    for (const Contact& c : book) {
        if ((++i & 255) == 0 && Clock::now() > deadline) return false;
        store.newObj(proto);
        store.setObjData(noInts, c.fields, noFloats);
        for (const std::string& mail : c.emails) store.addObjListItem(kListEmails, mail);
        for (const std::string& phone : c.phones) store.addObjListItem(kListPhones, phone);
        store.commitObj(kSlot, 0);
        store.releaseObj();
    }
    return true;
}

int64_t searchAndList(TConjuntos& store, const std::string& text, StoreListing& out) {
    store.search(kSlot, text, kSearchFields, kDisplayFields);
    store.listResults(kSlot, out.lines, out.texts, out.keys);
    return store.resultCount(kSlot);
}

void dropResults(TConjuntos& store) {
    store.search(kSlot, kMatchesNothing, kSearchFields, kDisplayFields);
}

std::vector<Contact> contactsOf(const TConjuntos& store) {
    std::vector<Contact> book;
    if (store.isEmpty(kSlot)) return book;
    const auto addOrder = [](const strList* list) {
        sVector items;
        if (list == nullptr) return items;
        for (const nodoStrList* n = list->head.get(); n != nullptr; n = n->next.get()) {
            items.push_back(n->value);
        }
        std::reverse(items.begin(), items.end());
        return items;
    };
    const hashElemR* set = store.sets[kSlot];
    book.reserve(static_cast<size_t>(set->count));
    for (const auto& head : set->table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            const TElem& e = *node->elem;
            Contact c;
            c.fields = e.strs;
            c.fields.resize(kStringFields);
            const size_t lists = e.strLists.size();
            if (lists > static_cast<size_t>(kListEmails))
                c.emails = addOrder(e.strLists[kListEmails]);
            if (lists > static_cast<size_t>(kListPhones))
                c.phones = addOrder(e.strLists[kListPhones]);
            book.push_back(std::move(c));
        }
    }
    return book;
}

int64_t setCount(const TConjuntos& store) {
    if (store.isEmpty(kSlot)) return -1;
    return countHashE(store.sets[kSlot]);
}

}  // namespace contavio::bench
