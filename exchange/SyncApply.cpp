#include <algorithm>

#include "exchange/KeptCopies.h"
#include "exchange/SyncPass.h"

namespace contavio {

// The guard. Without forceDelete, a sync that would empty a side, take from
// a side half of what it held or more (in this sync, or with the syncs since
// the user last confirmed deletions), or replace every card or contact of a
// side that was synced by others nobody synced, changes nothing.
bool SyncPass::refused() {
    size_t fromBook = 0, fromStore = 0, bookAdded = 0, storeAdded = 0;
    for (const auto& [key, contact] : overlay_) {
        if (!contact && book_.count(key)) ++fromBook;
        if (contact && !book_.count(key)) ++bookAdded;
    }
    size_t storeSize = 0;
    for (const auto& [name, card] : cards_)
        storeSize += card.version.has_value() && !groups_.count(name);
    for (const auto& [name, bytes] : writes_) {
        const auto was = cards_.find(name);
        const bool existed = was != cards_.end() && was->second.version;
        if (!bytes && existed && !splitOriginals_.count(name)) ++fromStore;
        if (bytes && !existed) ++storeAdded;
    }
    const size_t bookSize = book_.size();
    const size_t bookAfter = bookSize + bookAdded - fromBook;
    const size_t storeAfter = storeSize + storeAdded - fromStore;
    if (options_.forceDelete) {
        // Confirmed: the counts start again from what the sync leaves.
        guard_ = {bookAfter, 0, storeAfter, 0};
        return false;
    }
    // The most each side held, before this sync or after it, so that the
    // sync after it finds the same counts; a pair gone on both sides counts
    // on both (a run cut short after its deletions leaves them so).
    guard_ = {std::max({lastGuard_.bookPeak, bookSize, bookAfter}),
              lastGuard_.bookGone + fromBook + goneBoth_,
              std::max({lastGuard_.storePeak, storeSize, storeAfter}),
              lastGuard_.storeGone + fromStore + goneBoth_};
    const auto tooMany = [](size_t gone, size_t peak) { return gone >= 2 && gone * 2 >= peak; };
    // Every pair of the last sync gone from a side that holds only what the
    // last sync never saw: the side was replaced (another account, another
    // book).
    bool storeReplaced = lastPairs_ > 0 && storeSize > 0,
         bookReplaced = lastPairs_ > 0 && bookSize > 0;
    for (const std::string& name : lastNames_) {
        if (cards_.count(name)) storeReplaced = false;
    }
    for (const std::string& key : lastKeys_) {
        if (book_.count(key)) bookReplaced = false;
    }
    const bool refuse = (fromBook > 0 && storeSize == 0) || (fromStore > 0 && bookSize == 0) ||
                        tooMany(guard_.bookGone, guard_.bookPeak) ||
                        tooMany(guard_.storeGone, guard_.storePeak) ||
                        (storeReplaced && fromBook > 0) || (bookReplaced && fromStore > 0);
    if (!refuse) return false;
    report_.refused = true;
    return true;
}

void SyncPass::describe() {
    const std::string side = store_.sideName();
    for (const auto& [key, contact] : overlay_) {
        const auto was = book_.find(key);
        if (contact && was == book_.end()) {
            ++report_.bookAdded;
            report_.actions.push_back("en la agenda, nuevo: " + displayName(*contact));
        } else if (contact && !sameBook(*contact, was->second)) {
            ++report_.bookChanged;
            report_.actions.push_back("en la agenda, cambia: " + displayName(*contact));
        } else if (!contact && was != book_.end()) {
            ++report_.bookRemoved;
            report_.actions.push_back("en la agenda, se borra: " + displayName(was->second));
        }
    }
    for (const auto& [name, bytes] : writes_) {
        const auto was = cards_.find(name);
        const bool existed = was != cards_.end() && was->second.version;
        if (bytes && !existed) {
            ++report_.folderAdded;
            report_.actions.push_back(side + ", nueva: " + cardLabel(name));
        } else if (bytes) {
            ++report_.folderChanged;
            // A card that goes on with another contact (a rename) says so.
            const auto last = lastContacts_.find(name);
            const std::string now = cardLabel(name);
            if (last != lastContacts_.end() && !now.starts_with(displayName(last->second)))
                report_.actions.push_back(side + ", cambia: " + displayName(last->second) +
                                          " pasa a ser " + now);
            else
                report_.actions.push_back(side + ", cambia: " + now);
        } else if (existed || splitOriginals_.count(name)) {
            ++report_.folderRemoved;
            report_.actions.push_back(side + ", se borra: " + cardLabel(name));
        }
    }
}

BookChanges SyncPass::apply() {
    const std::time_t now = options_.now != 0 ? options_.now : std::time(nullptr);
    KeptCopies kept(options_.keptRoot, now);
    std::vector<ContactData> replaced;
    BookChanges changes;
    for (const auto& [key, contact] : overlay_) {
        const auto was = book_.find(key);
        if (contact && (was == book_.end() || !sameBook(*contact, was->second))) {
            changes.put.push_back(*contact);
        }
        if (was != book_.end() && (!contact || !sameBook(*contact, was->second))) {
            replaced.push_back(was->second);
            if (!contact) changes.remove.push_back(key);
        }
    }
    // Every copy is on disk before the first change.
    for (const auto& [name, bytes] : writes_) {
        const auto was = cards_.find(name);
        if (was == cards_.end() || !was->second.version) continue;
        if (was->second.fromState) {
            was->second.bytes = store_.read(name);
            was->second.fromState = false;
        }
        kept.keepCard(name, was->second.bytes);
    }
    for (const auto& [name, card] : splitOriginals_) kept.keepCard(name, card.bytes);
    kept.flush();
    kept.keepContacts(replaced);
    report_.keptIn = kept.folder();

    // New items before the deletes, so that a split's parts are written
    // before its original goes.
    std::map<std::string, std::string> versions;
    for (const auto& [name, bytes] : writes_) {
        if (!bytes) continue;
        const auto was = cards_.find(name);
        const std::optional<std::string> expected =
            was != cards_.end() ? was->second.version : std::nullopt;
        versions[name] = store_.write(name, *bytes, expected);
    }
    for (const auto& [name, bytes] : writes_) {
        if (bytes) continue;
        if (auto was = listed_.find(name); was != listed_.end()) store_.remove(name, was->second);
    }
    if (!writes_.empty()) store_.flush();
    for (SyncEntry& e : next_) {
        if (auto it = versions.find(e.name); it != versions.end()) e.version = it->second;
    }
    return changes;
}

}  // namespace contavio
