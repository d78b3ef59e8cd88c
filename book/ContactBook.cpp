#include "ContactBook.h"

#include <algorithm>
#include <unordered_set>

#include "ContactProto.h"
#include "engine/UhashElem.h"
#include "engine/basicOps.h"
#include "exchange/VCardText.h"

namespace contavio {

namespace {

// The lines of a listing are not needed, only its keys.
class NoLines : public LineList {
  public:
    void beginUpdate() override {}
    void clear() override {}
    void add(const std::string&) override {}
    void endUpdate() override {}
};

std::string orNotAvailable(const std::string& text) {
    return text.empty() ? std::string(kEmptyText) : singleLine(text);
}

void reverse(strList* list) {
    std::unique_ptr<nodoStrList> reversed;
    nodoStrList* newTail = list->head.get();
    while (list->head) {
        std::unique_ptr<nodoStrList> node = std::move(list->head);
        list->head = std::move(node->next);
        node->next = std::move(reversed);
        reversed = std::move(node);
    }
    list->head = std::move(reversed);
    list->tail = newTail;
    list->cursor = nullptr;
}

}  // namespace

std::string singleLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
}

void reverseAllLists(TConjuntos& sets, int32_t slot) {
    if (sets.isEmpty(slot)) return;
    for (const auto& head : sets.sets[static_cast<size_t>(slot)]->table) {
        for (nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            for (strList* list : node->elem->strLists) reverse(list);
        }
    }
}

std::vector<std::string> bookKeys(TConjuntos& sets, int32_t slot) {
    std::vector<std::string> keys;
    if (sets.isEmpty(slot)) return keys;
    // A search of the set itself: the slot's results, which the window lists,
    // stay as they were.
    hashElemR* set = sets.sets[static_cast<size_t>(slot)];
    const iVector fields = {kFirstNamesField, kSurnamesField, kAddressField};
    const std::unique_ptr<SSol> all = searchHashE(set, "", fields, fields);
    NoLines lines;
    std::optional<sVector> texts;
    std::optional<sVector> listed;
    listSSol(all.get(), lines, texts, listed);
    if (listed) keys = std::move(*listed);
    if (static_cast<size_t>(set->count) == keys.size()) return keys;
    const std::unordered_set<std::string> seen(keys.begin(), keys.end());
    for (const auto& head : set->table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            const std::string& key = node->elem->str(kKeyField);
            if (!seen.count(key)) keys.push_back(key);
        }
    }
    return keys;
}

bool readContact(TConjuntos& sets, int32_t slot, const std::string& key, ContactData& contact,
                 ListOrder order) {
    iVector ints;
    sVector strs;
    fVector floats;
    if (!sets.sObjInfo(key, kKeyField, slot, ints, strs, floats)) return false;
    strs.resize(kContactStrings);
    contact.firstNames = strs[kFirstNamesField];
    contact.surnames = strs[kSurnamesField];
    contact.address = strs[kAddressField];
    contact.web = strs[kWebField];
    contact.day = strs[kDayField];
    contact.month = strs[kMonthField];
    contact.notes = strs[kNotesField];
    iVector counts;
    sMatrix lists;
    if (!sets.sObjLists(key, kKeyField, slot, counts, lists)) return false;
    lists.resize(kContactLists);
    contact.phones = lists[kPhoneList];
    contact.emails = lists[kEmailList];
    if (order == ListOrder::TailFirst) {
        std::reverse(contact.phones.begin(), contact.phones.end());
        std::reverse(contact.emails.begin(), contact.emails.end());
    }
    return true;
}

std::string storeContact(TConjuntos& sets, int32_t slot, const ContactData& contact,
                         ListOrder order) {
    sVector strs(kContactStrings);
    strs[kFirstNamesField] = orNotAvailable(contact.firstNames);
    strs[kSurnamesField] = orNotAvailable(contact.surnames);
    strs[kAddressField] = orNotAvailable(contact.address);
    strs[kWebField] = orNotAvailable(contact.web);
    strs[kDayField] = isEmptyDay(contact.day) ? std::string(kDayPrompt) : singleLine(contact.day);
    strs[kMonthField] =
        isEmptyMonth(contact.month) ? std::string(kMonthPrompt) : singleLine(contact.month);
    strs[kNotesField] =
        contact.notes.empty() ? std::string(kEmptyText) : singleLine(flattenLines(contact.notes));
    strs[kKeyField] = contactKey(strs[kFirstNamesField], strs[kSurnamesField]);

    sets.newObj(contactProto());
    sets.setObjData(iVector{}, strs, fVector{});
    // Lists are stacks: the item added last is the head.
    const auto push = [&](int32_t list, const std::vector<std::string>& items) {
        if (order == ListOrder::TailFirst) {
            for (const std::string& item : items) sets.addObjListItem(list, singleLine(item));
        } else {
            for (auto it = items.rbegin(); it != items.rend(); ++it) {
                sets.addObjListItem(list, singleLine(*it));
            }
        }
    };
    push(kPhoneList, contact.phones);
    push(kEmailList, contact.emails);
    sets.commitObj(slot, kCommitByString);
    sets.releaseObj();
    return strs[kKeyField];
}

namespace {

// How many marks a card may try before it is merged after all.
bool sharesAnAddress(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (const std::string& x : a) {
        for (const std::string& y : b) {
            if (!isEmptyText(x) && trimBlanks(x) == trimBlanks(y)) return true;
        }
    }
    return false;
}

// The stored key of a contact with these names but for blanks at their
// ends (as typed in the window, and trimmed by an export), or empty.
std::string keyWithBlanks(TConjuntos& sets, int32_t slot, ImportReport& report,
                          const std::string& key) {
    if (!report.trimmedKeys) {
        report.trimmedKeys.emplace();
        if (sets.isEmpty(slot)) return {};
        for (const auto& head : sets.sets[static_cast<size_t>(slot)]->table) {
            for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
                const std::string& first = node->elem->str(kFirstNamesField);
                const std::string& last = node->elem->str(kSurnamesField);
                const std::string_view f = trimBlanks(first);
                const std::string_view l = trimBlanks(last);
                if (f.size() == first.size() && l.size() == last.size()) continue;
                (*report.trimmedKeys)[contactKey(orNotAvailable(std::string(f)),
                                                 orNotAvailable(std::string(l)))] =
                    node->elem->str(kKeyField);
            }
        }
    }
    const auto found = report.trimmedKeys->find(key);
    return found == report.trimmedKeys->end() ? std::string() : found->second;
}

}  // namespace

void importCards(TConjuntos& sets, int32_t slot, std::span<const CardImport> cards, MergeRule rule,
                 ImportReport& report, ListOrder order) {
    for (const CardImport& card : cards) {
        const std::string who = card.contact.firstNames + " " + card.contact.surnames;
        if (!card.damage.empty()) {
            report.damaged.push_back(who + ": " + card.damage);
            continue;
        }
        for (const std::string& warning : card.warnings)
            report.warnings.push_back(who + ": " + warning);

        const bool transliterated = !card.writtenName.empty();
        const ImportReport::Taken mine{
            transliterated ? card.writtenName
                           : cp1252ToUtf8(card.contact.firstNames + " " + card.contact.surnames),
            transliterated};
        ContactData incoming = card.contact;
        const auto marked = [&](int mark) {
            ContactData c = card.contact;
            if (mark > 1) {
                c.surnames = card.contact.surnames + (card.contact.surnames.empty() ? "(" : " (") +
                             std::to_string(mark) + ")";
            }
            return c;
        };
        // The key the contact gets once stored, "n/a" for an empty name included.
        const auto keyOf = [](const ContactData& c) {
            return contactKey(orNotAvailable(c.firstNames), orNotAvailable(c.surnames));
        };
        // Every mark before the first free one is a card of this import,
        // which a nameless card never takes in, nor a transliterated one of
        // another written name.
        const std::string base = keyOf(card.contact);
        int start = 1;
        if (const auto free = report.firstFreeMark.find(base);
            free != report.firstFreeMark.end() && (card.nameless || transliterated)) {
            start = free->second;
            const auto same = report.markOfWritten.find(base + '\n' + mine.written);
            if (transliterated && same != report.markOfWritten.end()) start = same->second;
        }
        for (int mark = start;; ++mark) {
            incoming = marked(mark);
            std::string key = keyOf(incoming);
            const auto taken = report.taken.find(key);
            const bool takenHere = taken != report.taken.end();
            if (takenHere && (card.nameless || ((transliterated || taken->second.transliterated) &&
                                                taken->second.written != mine.written))) {
                continue;
            }
            ContactData stored;
            const auto pending = report.merging.find(key);
            bool found = pending != report.merging.end();
            if (found) {
                stored = pending->second;
            } else {
                found = readContact(sets, slot, key, stored, order);
            }
            if (!found && !takenHere) {
                const std::string blanks = keyWithBlanks(sets, slot, report, key);
                if (!blanks.empty()) {
                    key = blanks;
                    found = readContact(sets, slot, key, stored, order);
                }
            }
            const auto take = [&] {
                report.taken.emplace(key, mine);
                if (transliterated) report.markOfWritten.emplace(base + '\n' + mine.written, mark);
                int& free = report.firstFreeMark.try_emplace(base, 1).first->second;
                while (report.taken.count(keyOf(marked(free)))) ++free;
            };
            if (!found) {
                storeContact(sets, slot, incoming, order);
                take();
                ++report.added;
            } else {
                const MergeResult merged = mergeContact(stored, incoming, rule);
                // A card whose name says little (transliterated, or none at
                // all) is the stored contact only when it adds nothing to it
                // or shares a telephone or e-mail with it.
                const bool apart = (transliterated || card.nameless) && !takenHere &&
                                   (merged.changed || !merged.warnings.empty()) &&
                                   !sharesAnAddress(stored.phones, incoming.phones) &&
                                   !sharesAnAddress(stored.emails, incoming.emails);
                if (apart) continue;
                for (const std::string& warning : merged.warnings)
                    report.warnings.push_back(who + ": " + warning);
                if (takenHere || merged.changed) {
                    report.mergedNames.push_back(stored.firstNames + " " + stored.surnames);
                }
                take();
                if (merged.changed) {
                    report.merging[key] = merged.contact;
                    ++report.merged;
                } else {
                    ++report.unchanged;
                }
            }
            if (mark > 1) {
                report.warnings.push_back(
                    incoming.firstNames + " " + incoming.surnames +
                    ": otra persona con el mismo nombre en la agenda o en las tarjetas; se "
                    "distingue con (" +
                    std::to_string(mark) + ")");
            }
            break;
        }
    }
    for (const auto& [key, contact] : report.merging) storeContact(sets, slot, contact, order);
    report.merging.clear();
}

}  // namespace contavio
