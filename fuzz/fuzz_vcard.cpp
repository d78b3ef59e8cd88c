// The vCard reader, writer and contact mapping on arbitrary text.
//
// - Reading never fails and gives valid UTF-8 in every name, parameter and
//   value.
// - Every card written as 3.0 and as 4.0 reads back as one card whose own
//   writing is the same text, and maps to the same contact (unless a value
//   holds a CR LF that quoted-printable carried: written as one "\n", it
//   comes back as one blank instead of two).
// - Every contact read is already in the form the writer takes
//   (normalizedContact changes nothing) and comes back unchanged through a
//   card of either version; its UID is the same in both.
// - Applying a card's own contact to it changes nothing; applying another
//   contact makes the card read as that contact.
// - Merging a contact into itself, or the same contact twice, changes
//   nothing the second time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "exchange/CardContact.h"
#include "exchange/ContactMerge.h"
#include "exchange/VCard.h"
#include "exchange/VCardText.h"

using namespace contavio;

namespace {

bool validUtf8(const std::string& text) { return lenientUtf8(text) == text; }

bool carriesCrLf(const VCard& card) {
    for (const VCardProperty& p : card.properties) {
        if (p.value.find("\r\n") != std::string::npos) return true;
    }
    return false;
}

size_t countOf(const VCard& card, std::string_view a, std::string_view b = {}) {
    size_t n = 0;
    for (const VCardProperty& p : card.properties) n += p.name == a || p.name == b;
    return n;
}

void checkCard(const VCard& card) {
    for (const VCardProperty& p : card.properties) {
        CHECK(!p.name.empty() && validUtf8(p.name) && validUtf8(p.group) && validUtf8(p.value));
        for (const VCardParam& q : p.params) CHECK(validUtf8(q.name) && validUtf8(q.value));
    }
    const CardImport read = contactFromCard(card);
    for (VCardVersion v : {VCardVersion::V30, VCardVersion::V40}) {
        const std::string text = writeVCard(card, v);
        const std::vector<VCard> again = parseVCards(text);
        CHECK(again.size() == 1);
        CHECK(writeVCard(again[0], v) == text);
        if (!carriesCrLf(card)) CHECK(contactFromCard(again[0]).contact == read.contact);
    }

    const ContactData& c = read.contact;
    std::vector<std::string> warnings;
    CHECK(normalizedContact(c, &warnings) == c && warnings.empty());
    for (VCardVersion v : {VCardVersion::V30, VCardVersion::V40}) {
        const VCardExport out = exportVCards({c}, v);
        const std::vector<CardImport> back = importVCards(out.text);
        CHECK(back.size() == 1 && back[0].contact == c);
        CHECK(out.text.find(contactUid(contactKeyOf(c), VCardVersion::V30)) != std::string::npos);
    }

    VCard same = card;
    CHECK(applyContact(c, same).empty());
    CHECK(writeVCard(same, VCardVersion::V40) == writeVCard(card, VCardVersion::V40));

    const MergeResult self = mergeContact(c, c);
    CHECK(!self.changed && self.warnings.empty());
}

// Applies `contact` to `card`: the card then reads as the contact. A card
// whose names are all cleared falls back on its FN or ORG, and clearing the
// address or web of a card with several lets the next one show: those are
// left out.
void checkApply(const ContactData& contact, VCard card) {
    if (contact.firstNames.empty() && contact.surnames.empty()) return;
    if (contact.address.empty() && countOf(card, "ADR", "LABEL") > 1) return;
    if (contact.web.empty() && countOf(card, "URL") > 1) return;
    applyContact(contact, card);
    CHECK(contactFromCard(card).contact == contact);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<VCard> cards = parseVCards(text);
    for (const VCard& card : cards) checkCard(card);
    for (size_t i = 0; i + 1 < cards.size() && i < 4; ++i) {
        const ContactData a = contactFromCard(cards[i]).contact;
        const ContactData b = contactFromCard(cards[i + 1]).contact;
        checkApply(a, cards[i + 1]);
        checkApply(b, cards[i]);
        const MergeResult ab = mergeContact(a, b);
        CHECK(!mergeContact(ab.contact, b).changed);
        const MergeResult taken = mergeContact(a, b, MergeRule::TakeIncoming);
        CHECK(!mergeContact(taken.contact, b, MergeRule::TakeIncoming).changed);
    }
    return 0;
}
