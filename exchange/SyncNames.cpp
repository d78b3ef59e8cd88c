// How a sync tells who is who: one person under one name or two, a contact
// renamed in the book, a contact marked "(conflicto)" whose names are free
// again, and a card that is a group of contacts rather than a contact.
#include <algorithm>

#include "exchange/CardContact.h"
#include "exchange/SyncPass.h"
#include "exchange/VCardText.h"

namespace contavio {

namespace {

constexpr char kMarkText[] = "conflicto";
constexpr char kGroupCard[] = "es un grupo de contactos: se deja como est\xE1, sin sincronizar";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && upperAscii(a) == upperAscii(b);
}

// Whether the card's bytes may say it is a group (KIND:group, or the
// X-ADDRESSBOOKSERVER-KIND form): cheap enough for every card of a sync.
bool mayBeGroup(std::string_view bytes) {
    for (size_t at = 0; (at = bytes.find_first_of("kK", at)) != std::string_view::npos; ++at) {
        if (!equalsIgnoringCase(bytes.substr(at, 4), "KIND")) continue;
        const size_t end = bytes.find('\n', at);
        const std::string line = upperAscii(bytes.substr(at, end - at));
        if (line.find("GROUP") != std::string::npos) return true;
    }
    return false;
}

bool saysGroup(const VCard& card) {
    return std::any_of(card.properties.begin(), card.properties.end(), [](const VCardProperty& p) {
        return (equalsIgnoringCase(p.name, "KIND") ||
                equalsIgnoringCase(p.name, "X-ADDRESSBOOKSERVER-KIND")) &&
               equalsIgnoringCase(trimBlanks(p.value), "group");
    });
}

bool shareAnItem(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    for (const std::string& x : a) {
        const std::string_view item = trimBlanks(x);
        if (isEmptyText(item)) continue;
        for (const std::string& y : b) {
            if (trimBlanks(y) == item) return true;
        }
    }
    return false;
}

// The contact without its names, as a text: two contacts that differ only
// in their names read the same.
std::string withoutNames(const ContactData& c) {
    ContactData rest = normalizedContact(c, nullptr);
    rest.firstNames.clear();
    rest.surnames.clear();
    std::sort(rest.phones.begin(), rest.phones.end());
    std::sort(rest.emails.begin(), rest.emails.end());
    std::string text;
    for (const std::string* f : {&rest.address, &rest.web, &rest.day, &rest.month, &rest.notes})
        text += *f + '\x1f';
    for (const auto* list : {&rest.phones, &rest.emails}) {
        for (const std::string& item : *list) text += item + '\x1e';
        text += '\x1f';
    }
    return text;
}

}  // namespace

// Two contacts of one name that are one person: no field of one says
// otherwise than the other, or they share a telephone or an e-mail. Two
// people who only share a name stay two.
bool samePerson(const ContactData& a, const ContactData& b) {
    const ContactData x = normalizedContact(a, nullptr), y = normalizedContact(b, nullptr);
    if (shareAnItem(x.phones, y.phones) || shareAnItem(x.emails, y.emails)) return true;
    for (auto f : {&ContactData::address, &ContactData::web, &ContactData::notes}) {
        if (!(x.*f).empty() && !(y.*f).empty() && x.*f != y.*f) return false;
    }
    if (!x.day.empty() && !y.day.empty() && (x.day != y.day || x.month != y.month)) return false;
    for (auto l : {&ContactData::phones, &ContactData::emails}) {
        if (!(x.*l).empty() && !(y.*l).empty()) return false;  // lists that share nothing
    }
    return true;
}

namespace {

// Two contacts no field of which says otherwise than the other's: each
// text field and the birthday equal or empty on one side, and each list
// sharing an item with the other's unless one of them is empty.
bool compatible(const ContactData& a, const ContactData& b) {
    const ContactData x = normalizedContact(a, nullptr), y = normalizedContact(b, nullptr);
    for (auto f : {&ContactData::address, &ContactData::web, &ContactData::notes}) {
        if (!(x.*f).empty() && !(y.*f).empty() && x.*f != y.*f) return false;
    }
    if (!x.day.empty() && !y.day.empty() && (x.day != y.day || x.month != y.month)) return false;
    for (auto l : {&ContactData::phones, &ContactData::emails}) {
        if (!(x.*l).empty() && !(y.*l).empty() && !shareAnItem(x.*l, y.*l)) return false;
    }
    return true;
}

// The mark "(conflicto)" or "(conflicto N)" at the end of the surnames: the
// surnames without it, or none.
std::optional<std::string> unmarkedSurnames(const std::string& surnames) {
    const std::string open = std::string("(") + kMarkText;
    const size_t at = surnames.rfind(open);
    if (at == std::string::npos || surnames.back() != ')') return std::nullopt;
    const std::string_view number =
        std::string_view(surnames).substr(at + open.size(), surnames.size() - 1 - at - open.size());
    if (!number.empty() && (number[0] != ' ' || number.size() < 2 ||
                            number.find_first_not_of("0123456789", 1) != std::string_view::npos))
        return std::nullopt;
    if (at == 0) return std::string();
    if (surnames[at - 1] != ' ') return std::nullopt;
    return surnames.substr(0, at - 1);
}

}  // namespace

bool SyncPass::isGroup(const std::string& name) {
    if (groups_.count(name)) return true;
    if (!mayBeGroup(cardBytes(name))) return false;
    std::vector<VCard> cards = parseVCards(cardBytes(name));
    if (cards.empty() || !saysGroup(cards.front())) return false;
    seen_.insert(name);
    groups_.insert(name);
    if (!knownGroups_.count(name)) report_.notes.push_back(cardLabel(name) + ": " + kGroupCard);
    return true;
}

// A contact renamed in the book (the window stores a contact under its new
// names as a new one, and the old one is deleted) goes on with the card of
// the old one, which keeps all the card holds that the book cannot show: a
// pair whose contact left the book and a new contact of the same content
// under other names (a shared telephone or e-mail, or every other field
// equal), when each has no other such match.
void SyncPass::findRenames(std::vector<SyncEntry>& entries) const {
    std::set<std::string> paired;
    for (const SyncEntry& e : entries) paired.insert(e.key);
    std::map<std::string, std::vector<std::string>> byItem;  // telephone, e-mail, rest -> keys
    const auto itemsOf = [](const ContactData& c) {
        std::set<std::string> items;
        const ContactData n = normalizedContact(c, nullptr);
        // Every other field equal, when there is one to compare.
        if (!n.address.empty() || !n.web.empty() || !n.day.empty() || !n.notes.empty())
            items.insert("=" + withoutNames(c));
        for (const std::string& p : n.phones) items.insert("t" + p);
        for (const std::string& m : n.emails) items.insert("m" + m);
        return items;
    };
    for (const auto& [key, c] : book_) {
        if (paired.count(key)) continue;
        for (const std::string& item : itemsOf(c)) byItem[item].push_back(key);
    }
    if (byItem.empty()) return;
    std::map<std::string, std::vector<SyncEntry*>> claims;  // new key -> pairs that match it
    std::vector<std::pair<SyncEntry*, std::string>> matched;
    for (SyncEntry& e : entries) {
        if (book_.count(e.key) || !e.contact || !cards_.count(e.name) || skipped_.count(e.name))
            continue;
        // The new contact that shares the most with it and says nothing
        // against it; none when two share as much.
        std::map<std::string, int> shared;
        for (const std::string& item : itemsOf(*e.contact)) {
            if (auto it = byItem.find(item); it != byItem.end()) {
                for (const std::string& key : it->second) ++shared[key];
            }
        }
        std::string best;
        int most = 0, ties = 0;
        for (const auto& [key, count] : shared) {
            if (!compatible(*e.contact, book_.at(key))) continue;
            if (count > most) {
                best = key;
                most = count;
                ties = 0;
            } else if (count == most) {
                ++ties;
            }
        }
        if (best.empty() || ties > 0) continue;
        claims[best].push_back(&e);
        matched.emplace_back(&e, best);
    }
    for (auto& [e, key] : matched) {
        if (claims[key].size() == 1) e->key = key;
    }
}

// A contact marked "(conflicto)" because another held its names goes back
// to its names once none does.
void SyncPass::unmark() {
    for (SyncEntry& e : next_) {
        if (!e.contact) continue;
        const std::optional<std::string> surnames = unmarkedSurnames(e.contact->surnames);
        if (!surnames) continue;
        if (auto owner = owner_.find(e.key); owner == owner_.end() || owner->second != e.name)
            continue;
        ContactData plain = *e.contact;
        plain.surnames = *surnames;
        if (isEmptyText(plain.firstNames) && plain.surnames.empty()) continue;
        const std::string key = keyOf(plain);
        if (key == e.key || current(key) || taken(key, e.name)) continue;
        std::vector<VCard> card = parseVCards(cardBytes(e.name));
        if (card.empty() || keyOf(contactFromCard(card.front()).contact) != key) continue;
        remove(e.key);
        owner_.erase(e.key);
        put(plain);
        owner_[key] = e.name;
        e.key = key;
        e.contact = stored(plain);
        stateChanged_ = true;
        if (auto note = markNotes_.find(e.name); note != markNotes_.end()) {
            report_.notes[note->second].clear();
            --report_.conflicts;
        }
    }
}

ContactData SyncPass::markedContact(const ContactData& c, const std::string& name) {
    // Many cards of one name are marked in one pass: each search starts
    // where the last one for that name ended.
    int& n = nextMark_[keyOf(c)];
    for (n = std::max(n, 1);; ++n) {
        ContactData marked = c;
        std::string mark = std::string("(") + kMarkText;
        if (n > 1) mark += ' ' + std::to_string(n);
        mark += ")";
        marked.surnames = isEmptyText(c.surnames) ? mark : c.surnames + " " + mark;
        const std::string key = keyOf(marked);
        if (!current(key) && !taken(key, name)) return marked;
    }
}

}  // namespace contavio
