// What the sync remembers of its last run between a book and a card store:
// one entry per pair of a card item and a contact, with the item's version
// and the contact's key as they were, and the last synced version of both
// sides, against which the next sync tells which fields each side changed.
//
// The state is a text file beside the book, one per store that the book is
// synced with (syncPlaces), written whole and atomically:
//   contavio-sync 2
//   lugar <the store's place>
//   libro <the book's file name>                   only when not "data.vlt"
//   marca <the store's cursor>                     only when the store keeps one
//   guarda <bookPeak>,<bookGone> <storePeak>,<storeGone>   the guard's counts
//   grupo <name>                                   one line per group card
//   <name> <version> <key> <contact> <card>        one line per pair
// where <contact> is "-" (not known) or "c" followed by nine fields (first
// names, surnames, address, web, day, month, notes, telephones, e-mails) and
// <card> is "-" or the card's bytes, each binary value (a photo, a logo, a
// key) replaced by its hash (withoutBinaries). Fields are separated by one blank; every
// byte below 0x21 or above 0x7e, '%' and ',' is written %XX; a list is each
// item preceded by ','. Texts of contacts are Windows-1252, as in the book.
//
// The state of the first version ("contavio-sync 1", kept inside the folder
// as ".contavio-sync") is still read: file, hash of its bytes, key of the
// contact as normalised, hash of the contact; see LegacyEntry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/ContactData.h"

namespace contavio {

struct SyncEntry {
    std::string name;                    // the card item
    std::string version;                 // its version when last synced
    std::string key;                     // the contact's key in the book, exactly
    std::optional<ContactData> contact;  // last synced, as the book held it; none: not known
    std::optional<std::string> card;     // last synced bytes of the card; none: not known

    bool operator==(const SyncEntry&) const = default;
};

// What the guard counts on each side since the user last confirmed
// deletions (or since the first sync): the most contacts or cards the side
// held at the start of a sync, and how many the syncs deleted from it.
struct GuardCounts {
    size_t bookPeak = 0, bookGone = 0;
    size_t storePeak = 0, storeGone = 0;

    bool operator==(const GuardCounts&) const = default;
};

struct SyncState {
    std::string place;
    std::string book;    // the book's file name, when not "data.vlt"
    std::string cursor;  // where the store's list of changes stood (CardStore::cursor), or ""
    GuardCounts guard;
    std::vector<std::string> groups;  // group cards, left alone, named once
    std::vector<SyncEntry> entries;
};

// A pair of the first version of the state.
struct LegacyEntry {
    std::string file;
    uint64_t cardHash = 0;
    std::string key;  // contactKeyOf of the contact as normalised
    uint64_t contactHash = 0;
};

std::string stateText(SyncState state);

// The card with every large binary value (base64, or a data: URI) replaced
// by "contavio-hash-" and its hash: what the state keeps of a card, which
// tells what the card reads as, and whether a photo changed, without its
// bytes.
std::string withoutBinaries(std::string_view card);

// None when the text is no state (damaged, cut short).
std::optional<SyncState> parseState(std::string_view text);
std::optional<std::vector<LegacyEntry>> parseLegacyState(std::string_view text);

// The hashes of the first version, to tell which side of a legacy pair
// changed since.
uint64_t legacyCardHash(std::string_view bytes);
uint64_t legacyContactHash(const ContactData& normalized);

// Where the state and the kept copies of a book synced with a folder go:
// beside the book, in its folder.
struct SyncPlaces {
    // "<book folder>/.contavio-sync-<hash of the vdir's path>", and of the
    // book's file name for a book not named "data.vlt": a state belongs to
    // one book and one folder.
    std::string state;
    std::string kept;      // "<book folder>/contavio-sync-kept"
    std::string oldState;  // "<vdir>/.contavio-sync", the first version's place
    std::string place;     // the vdir's path, links resolved
};
SyncPlaces syncPlaces(const std::string& bookFolder, const std::string& vdir,
                      const std::string& bookName = "data.vlt");

// The states beside the book, of any folder or server, but `except`.
std::vector<std::string> statesBeside(const std::string& bookFolder, const std::string& prefix,
                                      const std::string& except);

}  // namespace contavio
