// Two-way sync between the book and a vdir: a folder of vCards, one ".vcf"
// file per contact, that vdirsyncer keeps in step with a CardDAV server.
//
// The folder holds a small state file, ".contavio-sync" (a dot-file, which
// vdirsyncer ignores as it only looks at "*.vcf"): one line per pair of a
// card file and a contact, with the file's name and a hash of its bytes and
// the contact's key and a hash of its content, as of the last sync. Against
// it each side tells what changed since:
//
//   card \ contact   unchanged        changed               deleted
//   unchanged        -                card rewritten        card removed
//   changed          book takes card  merged (conflict)     card kept, back in book (conflict)
//   deleted          contact removed  new card (conflict)   pair dropped
//   new file         added to the book, or paired with the contact of its key
//   new contact      new card "<uuid of the key>.vcf", or paired with the card of its key
//
// Merged: when both sides changed and differ, the book keeps its values and
// takes the card's telephones, e-mails and the fields it lacks (mergeContact,
// KeepStored); the differing fields are named in the report and the merged
// contact is written back to the card. A card whose contact would land on a
// key that another card holds comes in as a second contact, its surnames
// marked " (conflicto)". A pair whose two sides read the same counts as in
// step whatever the state says, which makes a sync that was killed complete
// on the next run. Without a state file (the first sync) cards and contacts
// are paired by key.
//
// A card is changed by applying the contact onto the card as it stands
// (applyContact), so that what the book cannot show (PHOTO, ORG, a year in
// BDAY, X- properties) survives an edit in the book. New cards are vCard 3.0.
// Every file is written atomically: a temporary ".contavio-tmp-XXXXXX" in the
// folder, fsync, rename; temporaries of a killed run are removed by the next.
//
// Order of a sync, which the caller must keep so that a kill at any moment
// loses nothing and a re-run completes the sync:
//   1. run(): reads the folder and the state, writes the folder's side;
//   2. the caller stores the returned changes into the book and saves it;
//   3. commit(): writes the new state.
//
// Texts of the book and of the report are Windows-1252. Not for concurrent
// use: the caller holds the book's lock, and vdirsyncer must not run on the
// folder at the same time.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "exchange/ContactData.h"

namespace contavio {

// The state file's name inside the folder.
inline constexpr char kSyncStateName[] = ".contavio-sync";

// What a sync did; notes are Spanish and Windows-1252 (conflicts, cards that
// could not be read).
struct SyncReport {
    int folderAdded = 0, folderChanged = 0, folderRemoved = 0;
    int bookAdded = 0, bookChanged = 0, bookRemoved = 0, conflicts = 0;
    std::vector<std::string> notes;
};

// What the book must change, in this order: remove, then put.
struct BookChanges {
    std::vector<ContactData> put;     // insert, or replace the contact with the same key
    std::vector<std::string> remove;  // keys to delete (contactKeyOf)
};

class VdirSync {
  public:
    // folder: the vdir; it must exist.
    explicit VdirSync(std::string folder);

    // book: every contact of the book now, by key (contactKeyOf). Writes the
    // folder's side of the sync and returns what the book must change.
    // Throws std::runtime_error naming the file and the system's reason on a
    // failure of the file system; the folder then holds whole files only, and
    // a later run starts over.
    BookChanges run(const std::map<std::string, ContactData>& book, SyncReport& report);

    // After the caller stored the changes of run() and saved the book: writes
    // the new state, atomically. REQUIRES: run() returned since the last
    // commit(). Throws std::runtime_error as run() does.
    void commit();

  private:
    std::string folder_;
    std::string nextState_;  // the state file's text that commit() writes
    bool ran_ = false;
};

}  // namespace contavio
