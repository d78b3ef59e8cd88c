#include "exchange/SyncPass.h"

#include <algorithm>

#include "exchange/CardContact.h"
#include "exchange/ContactMerge.h"
#include "exchange/FolderStore.h"
#include "exchange/KeptCopies.h"
#include "exchange/VCardText.h"

namespace contavio {

namespace {

constexpr VCardVersion kNewCardVersion = VCardVersion::V30;

// Spanish texts of the report, Windows-1252.
constexpr char kConflictCardGone[] =
    "se borr\xF3 la tarjeta pero el contacto cambi\xF3 en la agenda: se conserva con una "
    "tarjeta nueva";
constexpr char kConflictContactGone[] =
    "se borr\xF3 en la agenda pero la tarjeta cambi\xF3: vuelve a la agenda";
constexpr char kConflictMarked[] = "ya existe otro contacto con ese nombre: se guarda como \xAB";
constexpr char kUnreadableCard[] = "no contiene ninguna tarjeta: no se sincroniza";
constexpr char kDamagedCard[] =
    "tarjeta da\xF1"
    "ada, no se sincroniza (se deja como est\xE1)";

std::vector<std::string> sorted(std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    return list;
}

// A contact of the book and a card's contact that say the same.
bool agree(const ContactData& book, const ContactData& card) {
    return sameBook(normalizedContact(book, nullptr), normalizedContact(card, nullptr));
}

bool hasSecondCard(std::string_view bytes) {
    constexpr std::string_view kBegin = "BEGIN:VCARD";
    int found = 0;
    for (size_t at = 0; (at = bytes.find(':', at)) != std::string_view::npos; ++at) {
        if (at < 5 || bytes.size() - (at - 5) < kBegin.size()) continue;
        const std::string_view here = bytes.substr(at - 5, kBegin.size());
        const bool begins =
            std::equal(here.begin(), here.end(), kBegin.begin(),
                       [](char a, char b) { return (a >= 'a' && a <= 'z' ? a - 32 : a) == b; });
        if (begins && ++found == 2) return true;
    }
    return false;
}

}  // namespace

std::string displayName(const ContactData& c) {
    std::string name = c.firstNames;
    if (!name.empty() && !c.surnames.empty()) name += ' ';
    name += c.surnames;
    return "\xAB" + name + "\xBB";
}

// The same contact as the book holds it: the order of its lists is no
// content, as every save and read of the book turns them round.
bool sameBook(const ContactData& a, const ContactData& b) {
    const auto sameItems = [](const std::vector<std::string>& x,
                              const std::vector<std::string>& y) {
        return x == y || (x.size() == y.size() && sorted(x) == sorted(y));
    };
    return a.firstNames == b.firstNames && a.surnames == b.surnames && a.address == b.address &&
           a.web == b.web && a.day == b.day && a.month == b.month && a.notes == b.notes &&
           sameItems(a.phones, b.phones) && sameItems(a.emails, b.emails);
}

SyncPass::SyncPass(CardStore& store, const SyncOptions& options, const BookContacts& book,
                   SyncReport& report)
    : store_(store), options_(options), book_(book), report_(report) {
    std::tm local{};
    const std::time_t now = options.now != 0 ? options.now : std::time(nullptr);
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    today_ = text;
}

const ContactData* SyncPass::known(const std::string& key) const {
    if (auto it = overlay_.find(key); it != overlay_.end())
        return it->second ? &*it->second : nullptr;
    if (auto it = book_.find(key); it != book_.end()) return &it->second;
    return nullptr;
}

std::optional<ContactData> SyncPass::current(const std::string& key) const {
    if (auto it = overlay_.find(key); it != overlay_.end()) return it->second;
    if (auto it = book_.find(key); it != book_.end()) return it->second;
    return std::nullopt;
}

ContactData SyncPass::stored(const ContactData& c) const {
    return options_.stored ? options_.stored(c) : c;
}

// Held by another card of the new state, or by a pair not handled yet.
bool SyncPass::taken(const std::string& key, const std::string& name) const {
    if (auto it = owner_.find(key); it != owner_.end() && it->second != name) return true;
    return pending_.count(key) != 0;
}

const std::string& SyncPass::cardBytes(const std::string& name) const {
    if (auto it = writes_.find(name); it != writes_.end() && it->second) return *it->second;
    return cards_.at(name).bytes;
}

void SyncPass::plan(std::map<std::string, PassCard> cards, const std::vector<std::string>& skipped,
                    std::vector<SyncEntry> entries, const SyncState& last) {
    cards_ = std::move(cards);
    for (const auto& [name, card] : cards_) listed_[name] = card.version.value_or("");
    skipped_.insert(skipped.begin(), skipped.end());
    knownGroups_.insert(last.groups.begin(), last.groups.end());
    lastGuard_ = last.guard;
    splitCards(cards_, entries);
    lastPairs_ = entries.size();
    for (const SyncEntry& e : entries) {
        if (e.contact) lastContacts_.emplace(e.name, *e.contact);
        lastNames_.insert(e.name);
        lastKeys_.insert(e.key);
    }
    findRenames(entries);
    for (const SyncEntry& e : entries) pending_.insert(e.key);
    for (SyncEntry& e : entries) {
        pending_.erase(pending_.find(e.key));
        syncPair(std::move(e));
    }
    for (const auto& [name, card] : cards_) {
        if (seen_.count(name)) continue;
        std::optional<VCard> parsed = parseCard(name);
        if (!parsed) continue;
        const ContactData incoming = contactFromCard(*parsed).contact;
        takeCard(name, std::move(*parsed), incoming);
    }
    unmark();
    for (const auto& [key, contact] : book_) {
        if (owner_.count(key)) continue;
        if (const std::optional<ContactData> now = current(key)) newCard(key, *now);
    }
    std::erase(report_.notes, std::string());
    stateChanged_ = stateChanged_ || next_.size() != lastPairs_ || !splitOriginals_.empty() ||
                    groups_ != knownGroups_;
}

// A file of several cards becomes one file per card, named after its bytes
// so that a run after a kill finds the same names; a pair of the file goes
// on with its first card.
void SyncPass::splitCards(std::map<std::string, PassCard>& cards, std::vector<SyncEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& [name, card] : cards) {
        if (card.version && hasSecondCard(card.bytes)) names.push_back(name);
    }
    for (const std::string& name : names) {
        std::vector<VCard> parsed = parseVCards(cards.at(name).bytes);
        if (parsed.size() < 2) continue;
        std::vector<std::string> parts;
        for (const VCard& card : parsed) {
            const VCardVersion version =
                card.version == VCardVersion::V21 ? VCardVersion::V30 : card.version;
            std::string bytes = writeVCard(card, version);
            std::string part = bytesVersion(bytes).substr(0, 16) + ".vcf";
            parts.push_back(part);
            if (auto it = cards.find(part); it != cards.end() && it->second.bytes == bytes)
                continue;
            writes_[part] = bytes;
            cards[part] = {std::move(bytes), std::nullopt};
        }
        writes_[name] = std::nullopt;
        splitOriginals_[name] = std::move(cards.at(name));
        cards.erase(name);
        report_.notes.push_back(name + ": " + std::to_string(parsed.size()) +
                                " tarjetas en un archivo: se separan en un archivo por tarjeta");
        for (SyncEntry& e : entries) {
            if (e.name != name) continue;
            e.name = parts.front();
            e.version.clear();
        }
    }
}

const std::string& SyncPass::wholeCard(const std::string& name) {
    if (auto it = writes_.find(name); it != writes_.end() && it->second) return *it->second;
    PassCard& card = cards_.at(name);
    if (card.fromState) {
        card.bytes = store_.read(name);
        card.fromState = false;
    }
    return card.bytes;
}

std::optional<VCard> SyncPass::parseCard(const std::string& name) {
    seen_.insert(name);
    if (isGroup(name)) return std::nullopt;
    std::vector<VCard> cards = parseVCards(wholeCard(name));
    if (cards.empty()) {
        report_.notes.push_back(name + ": " + kUnreadableCard);
        store_.unread(name);
        return std::nullopt;
    }
    // A card cut short (an interrupted copy, a full disk) is no edit of the
    // other side: it waits until it reads whole again.
    if (CardImport read = contactFromCard(cards.front()); !read.damage.empty()) {
        report_.notes.push_back(cardLabel(name) + ": " + kDamagedCard + ": " + read.damage);
        store_.unread(name);
        return std::nullopt;
    }
    return std::move(cards.front());
}

// "«Ana García» (name)" when the card's contact is known, else its name.
std::string SyncPass::cardLabel(const std::string& name) const {
    if (auto it = nextByName_.find(name); it != nextByName_.end() && next_[it->second].contact)
        return displayName(*next_[it->second].contact) + " (" + name + ")";
    if (auto it = lastContacts_.find(name); it != lastContacts_.end())
        return displayName(it->second) + " (" + name + ")";
    return name;
}

void SyncPass::pair(const std::string& name, const std::string& key, const ContactData& contact) {
    stateChanged_ = true;
    owner_[key] = name;
    const auto card = cards_.find(name);
    const bool written = writes_.count(name) != 0;
    const std::string version =
        written || card == cards_.end() ? std::string() : card->second.version.value_or("");
    nextByName_[name] = next_.size();
    next_.push_back({name, version, key, contact, withoutBinaries(cardBytes(name))});
}

void SyncPass::keepPair(SyncEntry&& e) {
    if (known(e.key)) owner_[e.key] = e.name;
    nextByName_[e.name] = next_.size();
    next_.push_back(std::move(e));
}

// Rewrites the card so that it reads as contact, keeping what else it holds.
void SyncPass::applyOnto(const std::string& name, VCard card, const ContactData& contact,
                         const std::vector<std::string>& noteLines) {
    if (noteLines.empty() && agree(contact, contactFromCard(card).contact)) return;
    applyContact(contact, card);
    // A conflict adds to the card's own note, in its own text.
    for (const std::string& line : noteLines) appendNote(card, line);
    const VCardVersion version =
        card.version == VCardVersion::V21 ? VCardVersion::V30 : card.version;
    std::string bytes = writeVCard(card, version);
    if (bytes != cardBytes(name)) writes_[name] = std::move(bytes);
}

void SyncPass::conflict(const ContactData& contact, const std::string& what) {
    ++report_.conflicts;
    report_.notes.push_back(displayName(contact) + ": " + what);
}

void SyncPass::syncPair(SyncEntry&& e) {
    if (skipped_.count(e.name)) {
        keepPair(std::move(e));  // until the entry is a card again
        return;
    }
    const auto listed = cards_.find(e.name);
    const bool haveCard = listed != cards_.end();
    if (haveCard) seen_.insert(e.name);
    const ContactData* now = known(e.key);
    // A group that was taken for a contact: the group stays as it is, and
    // its contact, unless changed in the book since, leaves the book.
    if (haveCard && isGroup(e.name)) {
        if (now && e.contact && sameBook(*now, *e.contact)) remove(e.key);
        stateChanged_ = true;
        return;
    }
    // Most pairs did not change: they are told without a copy.
    bool cardChanged = haveCard && listed->second.version != e.version;
    const bool bookChanged = now && (!e.contact || !sameBook(*now, *e.contact));
    if (haveCard && now && !cardChanged && !bookChanged) {
        keepPair(std::move(e));
        return;
    }
    const std::optional<ContactData> contact = current(e.key);
    if (!haveCard && !contact) {
        // Gone on both sides: deleted by the user on each, or a run cut short
        // after its deletions; the guard counts it either way.
        ++goneBoth_;
        return;
    }
    if (!haveCard) {
        if (!bookChanged) {
            remove(e.key);
        } else {
            conflict(*contact, kConflictCardGone);  // the new card comes with the new contacts
        }
        return;
    }
    std::optional<VCard> card;
    bool parsed = false;
    if (!contact && cardChanged) {
        // A card saved again (a new REV or PRODID) that reads as it did is
        // no change: what counts is the contact it reads as.
        card = parseCard(e.name);
        parsed = true;
        const std::vector<VCard> base = parseVCards(e.card.value_or(""));
        if (card && !base.empty() &&
            agree(contactFromCard(base.front()).contact, contactFromCard(*card).contact))
            cardChanged = false;
    }
    if (!contact && !cardChanged) {
        writes_[e.name] = std::nullopt;
        return;
    }
    if (!parsed) card = parseCard(e.name);
    if (!card) {
        keepPair(std::move(e));  // kept paired as it was, until the card reads again
        return;
    }
    const ContactData incoming = contactFromCard(*card).contact;
    if (contact && agree(*contact, incoming)) {
        pair(e.name, e.key, *contact);  // both sides agree, whatever the state says
        return;
    }
    if (!contact) {
        // After a kill the book may already hold the card under its new name.
        const std::optional<ContactData> there = current(keyOf(incoming));
        if (!there || !agree(*there, incoming)) conflict(incoming, kConflictContactGone);
        takeCard(e.name, std::move(*card), incoming);
        return;
    }
    ContactData cardBase;
    if (!cardChanged) {
        cardBase = incoming;  // the card is as last synced: nothing of it is new
    } else if (std::vector<VCard> base = parseVCards(e.card.value_or("")); !base.empty()) {
        cardBase = contactFromCard(base.front()).contact;
    } else if (e.contact) {
        cardBase = normalizedContact(*e.contact, nullptr);
    }
    const ContactData bookBase = e.contact ? *e.contact : cardBase;
    merge(e.name, std::move(*card), e.key, bookBase, *contact, cardBase, incoming);
}

void SyncPass::merge(const std::string& name, VCard card, const std::string& key,
                     const ContactData& bookBase, const ContactData& book,
                     const ContactData& cardBase, const ContactData& incoming) {
    const ThreeWayResult merged = mergeThreeWay(bookBase, book, cardBase, incoming);
    const std::vector<std::string> lines =
        conflictLines(merged.conflicts, today_, store_.sideName());
    ContactData result = merged.contact;
    for (const std::string& line : lines) appendNoteLine(result.notes, line);
    result = stored(result);
    if (!merged.conflicts.empty()) {
        std::string fields;
        for (const FieldConflict& f : merged.conflicts)
            fields += (fields.empty() ? "" : ", ") + f.label;
        conflict(book, fields + " cambi\xF3 en la agenda y " + store_.sideName() +
                           ": queda lo de la agenda y lo otro se a\xF1"
                           "ade a las notas");
    }
    // The card takes the fields the book changed; the others, and its own
    // note, keep the card's text, and a conflict adds its lines to the note.
    ContactData onCard = unchangedFrom(merged.contact, bookBase, incoming);
    std::string newKey = contactKeyOf(result);
    if (newKey != key) {
        if (taken(newKey, name) || current(newKey)) {
            result = stored(markedContact(result, name));
            newKey = contactKeyOf(result);
            conflict(result, kConflictMarked + displayName(result).substr(1));
            markNotes_[name] = report_.notes.size() - 1;
        }
        remove(key);
    }
    if (newKey != key || !sameBook(result, book)) put(result);
    applyOnto(name, std::move(card), onCard, lines);
    pair(name, newKey, result);
}

// A card that is new, or changed while its contact was deleted, comes into
// the book, or pairs with the contact of its key when both are one person.
void SyncPass::takeCard(const std::string& name, VCard card, const ContactData& incoming) {
    const std::string key = keyOf(incoming);
    const std::optional<ContactData> there = current(key);
    if (taken(key, name) || (there && !samePerson(*there, incoming))) {
        const ContactData marked = stored(markedContact(incoming, name));
        // The card keeps its own name: the mark is the book's alone.
        conflict(incoming, kConflictMarked + displayName(marked).substr(1));
        markNotes_[name] = report_.notes.size() - 1;
        put(marked);
        pair(name, contactKeyOf(marked), marked);
        return;
    }
    if (there && agree(*there, incoming)) {
        pair(name, key, *there);
    } else if (there) {
        merge(name, std::move(card), key, ContactData{}, *there, ContactData{}, incoming);
    } else {
        put(incoming);
        pair(name, key, stored(incoming));
    }
}

void SyncPass::newCard(const std::string& key, const ContactData& contact) {
    std::string name, uid;
    for (int n = 1;; ++n) {
        uid = contactUid(n == 1 ? key : key + "#" + std::to_string(n), kNewCardVersion);
        name = uid + ".vcf";
        if (!cards_.count(name) && !writes_.count(name) && !skipped_.count(name)) break;
    }
    std::vector<std::string> warnings;
    VCard card = cardFromContact(normalizedContact(contact, nullptr), kNewCardVersion, warnings);
    for (VCardProperty& p : card.properties) {
        if (p.name == "UID") p.value = uid;
    }
    for (const std::string& w : warnings) report_.notes.push_back(displayName(contact) + ": " + w);
    writes_[name] = writeVCard(card, kNewCardVersion);
    pair(name, key, contact);
}

}  // namespace contavio
