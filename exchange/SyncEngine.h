// The two-way sync between the book and a card store (CardStore): a folder
// of vCards (FolderStore), and in the same way a CardDAV collection. The
// state of the last sync (SyncState) holds, for every pair of a card and a
// contact, the version of both sides as they were; against it each side
// tells what changed since:
//
//   card \ contact   unchanged        changed               deleted
//   unchanged        -                card rewritten        card removed
//   changed          merged           merged                card kept, back in book (conflict)
//   deleted          contact removed  new card (conflict)   pair dropped
//   new card         added to the book, or paired with the contact of its key
//                    when both are one person (else a second contact)
//   new contact      new card "<uuid of the key>.vcf", or paired with the card of its key
//
// "Changed" is what a side reads as: a card saved again as it was is no
// change. A card cut short or unreadable, and a group card, are left alone
// and named. A contact renamed in the book (a new contact of the same
// content under other names, and one gone) goes on with the card of the one
// gone. docs/sync.md gives the whole table.
//
// Merged: field by field against the last synced versions (mergeThreeWay);
// a field both sides changed keeps the book's value, and the other side's
// goes on a dated line of the contact's notes and the card's; the report
// names it. A card whose contact would land on a key that another card
// holds comes in as a second contact, its surnames marked " (conflicto)",
// until the key is free again. A pair whose two sides read the same counts
// as in step whatever the state says, which makes a sync that was killed
// complete on the next run. Without a state (the first sync) cards and
// contacts are paired by key when they are one person.
//
// A card is changed by applying the contact onto the card as it stands
// (applyContact), so that what the book cannot show, and the original text
// of every field the book did not change, survive. New cards are vCard 3.0.
// An item holding several cards is split into one item per card; the
// original is kept.
//
// Guard: when one side is empty, or is replaced by items the last sync never
// saw, or would lose half of what it held or more since the user last
// confirmed (GuardCounts), nothing is changed and the report says what
// would go (refused), unless forceDelete, which starts the counts again. So
// too when the book was last synced with another store (the state's place,
// or formerPlace, differs from place) and no state of this book is found
// for this store's cards (otherStates): the sync would merge two books that
// were never one (refused, with otherPlace); forced, it starts afresh,
// pairing by key.
// Every card the sync deletes or rewrites, and every contact it removes or
// changes in the book, is first kept (KeptCopies); the report says where.
// A dry run changes nothing and reports what the sync would do. A sync with
// nothing to do writes nothing: no card, no state, and no change to the book.
//
// Order of a sync, which the caller must keep so that a kill at any moment
// loses nothing and a re-run completes the sync:
//   1. run(): reads both sides and the state, keeps copies, writes the store;
//   2. the caller stores the returned changes into the book and saves it;
//   3. commit(): writes the new state.
// Texts of the book and of the report are Windows-1252. Not for concurrent
// use: the caller holds the book's lock.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "exchange/CardStore.h"
#include "exchange/ContactData.h"
#include "exchange/SyncState.h"

namespace contavio {

// How often a sync starts over when a card changed on the store meanwhile.
inline constexpr int kStoreChangedRetries = 3;

struct SyncOptions {
    std::string statePath;        // the state of this book with this store
    std::string legacyStatePath;  // a first-version state read once when statePath is missing
    std::string place;            // the store's place, written into the state
    // The place of another store that the book was last synced with, when
    // statePath holds no state yet (the caller knows it), or "".
    std::string formerPlace;
    std::string keptRoot;  // where copies are kept (KeptCopies)
    // The book's file name: a state belongs to one book and one store.
    std::string bookName = "data.vlt";
    // States of this book with other places: where statePath holds none, one
    // whose cards are those of this store (the same names and versions, for
    // most of its pairs) is carried on, and removed once its place is gone.
    std::vector<std::string> otherStates;
    // The state left by a run of this book whose changes the book holds but
    // whose commit waits for the book's save (a window that saves at
    // close): the next run goes on from it, not from the file, when it is
    // for the same statePath.
    std::optional<std::string> pendingState;
    std::string pendingStatePath;
    bool dryRun = false;
    bool forceDelete = false;
    std::time_t now = 0;  // the run's time (0: the clock's)
    // The contact as the book holds it once stored ("n/a" for an empty
    // name...): its key is the book's key. None: as given.
    std::function<ContactData(const ContactData&)> stored;
};

// What a sync did, or would do; notes and actions are Spanish, Windows-1252.
struct SyncReport {
    int folderAdded = 0, folderChanged = 0, folderRemoved = 0;
    int bookAdded = 0, bookChanged = 0, bookRemoved = 0, conflicts = 0;
    std::vector<std::string> notes;    // conflicts, skipped entries, unreadable cards
    std::vector<std::string> actions;  // each change, for a dry run or a refusal
    bool refused = false;              // the guard stopped the sync: nothing changed
    std::string keptIn;                // the folder of this run's kept copies, or ""
    std::string otherPlace;            // refused, the book being synced with this other store
};

// What the book must change, in this order: remove, then put.
struct BookChanges {
    std::vector<ContactData> put;     // insert, or replace the contact with the same key
    std::vector<std::string> remove;  // keys to delete
    bool empty() const { return put.empty() && remove.empty(); }
};

using BookContacts = std::map<std::string, ContactData>;  // by the book's key

class SyncEngine {
  public:
    SyncEngine(CardStore& store, SyncOptions options);

    // book: every contact of the book now, by key, as the book holds it.
    // Throws std::runtime_error naming the file and the reason on a failure
    // of the store or the file system; the store then holds whole items
    // only, and a later run starts over. A card changed on the store between
    // its reading and its write (StoreChanged) makes the sync read again and
    // merge anew, up to kStoreChangedRetries times.
    BookChanges run(const BookContacts& book, SyncReport& report);

    // After the caller stored the changes of run() and saved the book: writes
    // the new state, atomically, when it differs. Does nothing after a dry
    // run or a refusal.
    void commit();

    // After run(): the state that commit() would write ("" after a dry run
    // or a refusal).
    const std::string& nextState() const { return pending_ ? nextState_ : kNoState; }

  private:
    static inline const std::string kNoState;
    BookChanges attemptRun(const BookContacts& book, SyncReport& report);
    std::optional<SyncState> adoptable(const StoreListing& listing);

    CardStore& store_;
    SyncOptions options_;
    std::string oldState_, nextState_;
    std::string adopted_, adoptedPlace_;  // the state carried on from another place
    bool pending_ = false;
    bool migrated_ = false;
};

}  // namespace contavio
