// The contacts of the book as whole records (ContactData), for everything
// that moves contacts in and out of the store besides the editor: vCard
// import and export, the command line, the sync with a vCard folder. A
// contact is stored the way the window's "Agregar" stores it, so the window
// shows it as if it had been typed there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/Conjuntos.h"
#include "exchange/CardContact.h"
#include "exchange/ContactData.h"
#include "exchange/ContactMerge.h"

namespace contavio {

// Which way round a contact's telephones and e-mails are shown. The lists
// are stacks, and a save followed by a read reverses them: the window shows
// what it holds head first (HeadFirst), while a program that turned the
// lists it read back into the order of the file (reverseAllLists) holds what
// the window will show at its next start tail first (TailFirst).
enum class ListOrder { HeadFirst, TailFirst };

// Turns every list of the slot's set round, in place: after a read, they are
// back in the order of the file, so a save without changes keeps them so.
void reverseAllLists(TConjuntos& sets, int32_t slot);

// A single-line value as the store keeps it: each control character (a
// pasted line break or tab) becomes a blank, as the notes' line breaks do.
std::string singleLine(std::string text);

// Every key of the book: first in the order "Buscar" lists an empty search,
// then the contacts that such a search does not list, in chain order. The
// slot's own search results are left as they are.
std::vector<std::string> bookKeys(TConjuntos& sets, int32_t slot);

// The contact under key, with its telephones and e-mails in the order the
// window's lists show them. False when there is none.
bool readContact(TConjuntos& sets, int32_t slot, const std::string& key, ContactData& contact,
                 ListOrder order = ListOrder::HeadFirst);

// Inserts the contact, or replaces the one with the same key, as "Agregar"
// does: empty fields become "n/a" (the pickers' prompts for an empty
// birthday), control characters blanks. Returns the key.
std::string storeContact(TConjuntos& sets, int32_t slot, const ContactData& contact,
                         ListOrder order = ListOrder::HeadFirst);

// What importCards did, and what it has seen so far: a report passed to
// several calls (an import in batches) keeps the import as one.
struct ImportReport {
    int added = 0;
    int merged = 0;
    int unchanged = 0;
    // "Names Surnames: warning", Windows-1252, in the order of the cards.
    std::vector<std::string> warnings;
    // "Names Surnames" of every contact that took in a card with the key of
    // a contact already stored or of another card of this import.
    std::vector<std::string> mergedNames;
    // "Names Surnames: why" of every damaged card, which was left out.
    std::vector<std::string> damaged;

    // The keys this import has stored, with the names their cards wrote.
    struct Taken {
        std::string written;  // UTF-8
        bool transliterated = false;
    };
    std::unordered_map<std::string, Taken> taken;
    // By the key of a card's own names: the first mark "(N)" that this
    // import has not taken yet, for a card that never takes in another, and
    // the mark that took each written name, so that many cards of one name
    // find their place at once.
    std::unordered_map<std::string, int> firstFreeMark;
    std::unordered_map<std::string, int> markOfWritten;
    // Contacts that took in a card of this call, stored once at its end: a
    // contact that takes in thousands of cards is not stored each time.
    std::unordered_map<std::string, ContactData> merging;
    // Stored keys whose names have blanks at their ends, by the key of the
    // names without them; made at the first card whose key is not stored.
    std::optional<std::unordered_map<std::string, std::string>> trimmedKeys;
};

// Adds each sound card's contact, or merges it into the stored contact with
// the same key (or with the same names but for blanks at their ends), and
// leaves out damaged cards; importing the same cards again changes nothing.
// Two cards never become one contact when they are different people: a
// card without a name whose key another card of this import took, a card
// whose names were transliterated and meet a different written name, and
// either kind meeting a stored contact that it would change (or differ
// from) with neither a telephone nor an e-mail in common, get " (2)",
// " (3)"... after their surnames, which the warnings say.
void importCards(TConjuntos& sets, int32_t slot, std::span<const CardImport> cards, MergeRule rule,
                 ImportReport& report, ListOrder order = ListOrder::HeadFirst);

}  // namespace contavio
