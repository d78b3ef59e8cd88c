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

}  // namespace contavio
