// One run of the sync engine over the book, the store's cards and the last
// state: works out every change first (plan), so that the guard and a dry
// run see the whole sync before anything is written, then writes the store's
// side (apply). Internal to SyncEngine.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "exchange/SyncEngine.h"
#include "exchange/SyncState.h"
#include "exchange/VCard.h"

namespace contavio {

struct PassCard {
    std::string bytes;
    std::optional<std::string> version;  // none: made by this sync (a split)
    bool fromState = false;  // bytes as the state keeps them (withoutBinaries): not for writing
};

// "«First names Surnames»", for the report.
std::string displayName(const ContactData& c);
// The same contact as the book holds it, its lists in any order.
bool sameBook(const ContactData& a, const ContactData& b);
// Two contacts of one name that are one person: no field of one says
// otherwise than the other, or they share a telephone or an e-mail.
bool samePerson(const ContactData& a, const ContactData& b);

class SyncPass {
  public:
    SyncPass(CardStore& store, const SyncOptions& options, const BookContacts& book,
             SyncReport& report);

    // cards: the store's items by name; skipped: entries of the store that
    // are no card item; entries: the pairs of the last state; last: the rest
    // of it (its guard counts and group cards).
    void plan(std::map<std::string, PassCard> cards, const std::vector<std::string>& skipped,
              std::vector<SyncEntry> entries, const SyncState& last);
    // True when the guard refuses the plan (said in the report).
    bool refused();
    // Describes the plan in the report's actions and counts.
    void describe();
    // Keeps copies, writes the store, and returns the book's changes.
    BookChanges apply();
    // The new state's entries (after apply: with the new versions), and
    // whether they differ from the last state's.
    std::vector<SyncEntry> entries() const { return next_; }
    bool stateChanged() const { return stateChanged_; }
    // The guard's counts and the group cards after this sync.
    const GuardCounts& guard() const { return guard_; }
    std::vector<std::string> groups() const { return {groups_.begin(), groups_.end()}; }

  private:
    std::optional<ContactData> current(const std::string& key) const;
    // As current, without a copy; valid until the book's changes change.
    const ContactData* known(const std::string& key) const;
    ContactData stored(const ContactData& c) const;
    std::string keyOf(const ContactData& c) const { return contactKeyOf(stored(c)); }
    void put(const ContactData& c) { overlay_[keyOf(c)] = stored(c); }
    void remove(const std::string& key) { overlay_[key] = std::nullopt; }
    bool taken(const std::string& key, const std::string& name) const;
    const std::string& cardBytes(const std::string& name) const;

    void splitCards(std::map<std::string, PassCard>& cards, std::vector<SyncEntry>& entries);
    // The card, read whole from the store when the state's copy stood for it.
    const std::string& wholeCard(const std::string& name);
    // The card's first vCard; none for a card that is damaged or a group
    // (named in the report) or holds none.
    std::optional<VCard> parseCard(const std::string& name);
    bool isGroup(const std::string& name);
    void findRenames(std::vector<SyncEntry>& entries) const;
    void unmark();
    std::string cardLabel(const std::string& name) const;
    void pair(const std::string& name, const std::string& key, const ContactData& contact);
    void keepPair(SyncEntry&& e);
    void applyOnto(const std::string& name, VCard card, const ContactData& contact,
                   const std::vector<std::string>& noteLines);
    void conflict(const ContactData& contact, const std::string& what);
    void syncPair(SyncEntry&& e);
    void merge(const std::string& name, VCard card, const std::string& key,
               const ContactData& bookBase, const ContactData& book, const ContactData& cardBase,
               const ContactData& incoming);
    void takeCard(const std::string& name, VCard card, const ContactData& incoming);
    ContactData markedContact(const ContactData& c, const std::string& name);
    void newCard(const std::string& key, const ContactData& contact);

    CardStore& store_;
    const SyncOptions& options_;
    const BookContacts& book_;
    SyncReport& report_;
    std::string today_;

    std::map<std::string, PassCard> cards_;
    std::set<std::string> skipped_;
    std::set<std::string> seen_;
    std::multiset<std::string> pending_;        // keys of pairs not handled yet
    std::map<std::string, std::string> owner_;  // key -> its card in the new state
    std::map<std::string, std::optional<ContactData>>
        overlay_;                                               // the book's changes; none: removed
    std::map<std::string, std::optional<std::string>> writes_;  // name -> new bytes; none: removed
    std::map<std::string, PassCard> splitOriginals_;            // removed because split, not lost
    std::map<std::string, std::string> listed_;                 // name -> version, as listed
    std::vector<SyncEntry> next_;
    std::map<std::string, size_t> nextByName_;         // card name -> its last entry in next_
    std::set<std::string> lastNames_, lastKeys_;       // cards and contacts of the last pairs
    std::map<std::string, ContactData> lastContacts_;  // card name -> its contact last synced
    std::map<std::string, int> nextMark_;              // key -> the next "(conflicto N)" to try
    std::map<std::string, size_t> markNotes_;          // card name -> its mark's note
    std::set<std::string> groups_, knownGroups_;       // group cards now, and in the last state
    GuardCounts lastGuard_, guard_;
    size_t lastPairs_ = 0;
    size_t goneBoth_ = 0;  // pairs whose card and contact were both gone
    bool stateChanged_ = false;
};

}  // namespace contavio
