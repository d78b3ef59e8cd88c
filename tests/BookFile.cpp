#include "BookFile.h"

#include <memory>

#include "engine/Elemento.h"
#include "engine/UhashElem.h"
#include "engine/protoData.h"
#include "persistence/DataFiles.h"

namespace contavio {

namespace {

constexpr int32_t kCipherKey = 853;
constexpr int32_t kEmails = 0;
constexpr int32_t kPhones = 1;

TprotoData contactProto() {
    TprotoData proto;
    proto.setData(0, 8, 0);
    proto.setListData(0, 2, 0);
    return proto;
}

// The store hands a list back newest first, and a save and load turns it
// around once more, so items added in order come back in order.
sVector listOf(const TElem& e, int32_t list) {
    int32_t count = 0;
    sVector values;
    e.getStrList(list, count, values);
    return values;
}

}  // namespace

BookMap loadBookFile(const std::string& path) {
    hashElemR* set = nullptr;
    loadCryptHashE(path, set, kCipherKey);
    BookMap book;
    if (set == nullptr) return book;
    for (const auto& head : set->table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            const TElem& e = *node->elem;
            ContactData c;
            c.firstNames = e.str(1);
            c.surnames = e.str(2);
            c.address = e.str(3);
            c.web = e.str(4);
            c.day = e.str(5);
            c.month = e.str(6);
            c.notes = e.str(7);
            c.phones = listOf(e, kPhones);
            c.emails = listOf(e, kEmails);
            book[e.str(0)] = std::move(c);
        }
    }
    destroyHashE(set);
    return book;
}

void saveBookFile(const std::string& path, const BookMap& book) {
    const TprotoData proto = contactProto();
    hashElemR* set = newHashElem(4099, 0, "Contacto", 0);
    setProtoHashE(set, proto);
    for (const auto& [key, c] : book) {
        auto e = std::make_unique<TElem>();
        e->setProto(proto);
        const std::string fields[8] = {key,   c.firstNames, c.surnames, c.address,
                                       c.web, c.day,        c.month,    c.notes};
        for (int i = 0; i < 8; ++i) e->setStr(i, fields[i]);
        for (const std::string& p : c.phones) e->addStrListItem(p, kPhones);
        for (const std::string& m : c.emails) e->addStrListItem(m, kEmails);
        addSHashE(std::move(e), set);
    }
    try {
        saveCryptHashE(path, set, kCipherKey);
    } catch (...) {
        destroyHashE(set);
        throw;
    }
    destroyHashE(set);
}

}  // namespace contavio
