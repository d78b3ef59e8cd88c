// Merging a contact read from elsewhere into the stored contact with the
// same key, so that importing a file a second time changes nothing.
#pragma once

#include <string>
#include <vector>

#include "exchange/ContactData.h"

namespace contavio {

enum class MergeRule {
    KeepStored,    // a field that differs keeps the stored value
    TakeIncoming,  // a field that differs takes the incoming value
};

struct MergeResult {
    ContactData contact;
    bool changed = false;               // contact differs from the stored one
    std::vector<std::string> warnings;  // one per differing field, Windows-1252
};

// Empty fields of stored (empty, blanks, "n/a", and "Día" / "Mes" for the
// pickers) take incoming's value; a field where both hold different texts
// (compared without surrounding blanks) follows the rule and is named in the
// warnings. Telephones and e-mails that stored lacks (compared without
// surrounding blanks) are added after its own, in incoming's order; empty
// items and "n/a" are skipped. Pure: stored and incoming are not changed.
MergeResult mergeContact(const ContactData& stored, const ContactData& incoming,
                         MergeRule rule = MergeRule::KeepStored);

// A field both sides changed since the last sync, to different values.
struct FieldConflict {
    std::string label;   // "Notas", Windows-1252
    std::string theirs;  // the other side's value, trimmed
};

struct ThreeWayResult {
    ContactData contact;
    std::vector<FieldConflict> conflicts;
};

// The three-way merge of a sync, field by field, of the book's contact and
// the other side's, each against its own version of the last sync (the
// bases). Texts compare without surrounding blanks, and "n/a" and the
// pickers' prompts as empty; the birthday (day and month) is one field. A
// field changed on one side only takes that side's value; a field unchanged
// on the other side keeps the book's exact text. A field changed on both
// sides to different values keeps the book's and is named in the conflicts
// (for the birthday: "Cumpleaños", "15 de Abril"). The notes are merged so
// that they never grow by what they hold already: a note of theirs that
// holds all of the book's is taken, and a conflict on the notes carries
// only what their side added, unless the book's note holds it already. Each list keeps the book's
// items, drops those the other side removed and adds, at the end, those it added.
ThreeWayResult mergeThreeWay(const ContactData& bookBase, const ContactData& book,
                             const ContactData& theirBase, const ContactData& theirs);

// The contact with each text field that reads as base's (compared as
// mergeThreeWay compares) taken from other: what a card must say after a
// merge, so that a field the book did not change keeps the card's own text.
ContactData unchangedFrom(const ContactData& contact, const ContactData& base,
                          const ContactData& other);

// One line for each conflict, for the notes, so that the user sees both
// values: "[AAAA-MM-DD] <side>, <label>: <value>", where side is "en la
// carpeta" or "en el servidor".
std::vector<std::string> conflictLines(const std::vector<FieldConflict>& conflicts,
                                       const std::string& today, const std::string& side);

// Appends a line to a note of the book, which keeps it on one line.
void appendNoteLine(std::string& notes, const std::string& line);

}  // namespace contavio
