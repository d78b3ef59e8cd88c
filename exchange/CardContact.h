// How a vCard maps onto a contact of the book and back.
//
// Reading keeps N/FN (ORG for a company, an e-mail or telephone for a card
// without a name), the first ADR (or LABEL), the first URL, BDAY's day and
// month, every NOTE, TEL and EMAIL; text outside Windows-1252 comes in
// transliterated to Latin letters. Whatever else the card holds, and every
// field that was transliterated, is named in the contact's warnings: short
// Spanish texts in Windows-1252 such as "foto no importada". Writing makes a
// 3.0 or 4.0 card with a UID derived from the contact's key alone. The
// mapping in both directions is written down in docs/vcard.md.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "exchange/ContactData.h"
#include "exchange/VCard.h"

namespace contavio {

// A contact read from a card, and what of the card it does not hold.
struct CardImport {
    ContactData contact;
    std::vector<std::string> warnings;  // Spanish, Windows-1252, each once
    // The names as the card writes them (UTF-8, first names, a blank, the
    // surnames) when the book holds them transliterated; empty otherwise.
    std::string writtenName;
    // The card gives no name (no N, FN or ORG): the contact is named after
    // its first e-mail, else its first telephone, else not at all.
    bool nameless = false;
    // Why the card is not sound (Windows-1252), empty when it is.
    std::string damage;
};

CardImport contactFromCard(const VCard& card);

// Every card of a vCard file, in file order.
std::vector<CardImport> importVCards(std::string_view text);

// The contact as it goes into a card: blanks trimmed, the editor's "n/a"
// and the pickers' prompts emptied, control characters (line breaks
// included) turned into blanks, empty list items left out, and a birthday
// that is not a valid day and month of the pickers emptied, with a warning.
// A contact read from a card comes back unchanged.
ContactData normalizedContact(const ContactData& contact, std::vector<std::string>* warnings);

// A new card of `version` for the contact: UID, N, FN, TEL, EMAIL, ADR, URL,
// BDAY, NOTE. What could not be written is added to warnings.
VCard cardFromContact(const ContactData& contact, VCardVersion version,
                      std::vector<std::string>& warnings);

struct VCardExport {
    std::string text;                                // UTF-8, CR LF
    std::vector<std::vector<std::string>> warnings;  // one list per contact
};

// The contacts as one vCard file of `version` (3.0 or 4.0), in their order.
VCardExport exportVCards(const std::vector<ContactData>& contacts, VCardVersion version);

// Changes card so that it reads back as the contact, touching only the
// mapped properties whose value differs; every other property, and its
// place, stays. A kept telephone or e-mail keeps its parameters and group;
// a changed birthday keeps the card's year. Returns the warnings of
// normalizedContact.
std::vector<std::string> applyContact(const ContactData& contact, VCard& card);

// Adds a line (Windows-1252) to the card's note, after a blank, in the
// card's own text; the card then reads as its note before, a blank and the
// line.
void appendNote(VCard& card, const std::string& line);

// The card UID of a contact key (bytes as stored): "urn:uuid:" and a
// version 5 UUID for 4.0, the bare UUID for 3.0.
std::string contactUid(std::string_view key, VCardVersion version);

}  // namespace contavio
