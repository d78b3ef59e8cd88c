#include "exchange/CardContact.h"

#include <algorithm>
#include <optional>

#include "exchange/CardFields.h"
#include "exchange/NameUuid.h"
#include "exchange/VCardText.h"

namespace contavio {

namespace {

using namespace cardfields;

// The namespace of the book's contact UIDs; fixed once, never to change.
constexpr Uuid kContactNamespace = {0x6a, 0x45, 0x6c, 0x8a, 0x15, 0x3e, 0x44, 0x4a,
                                    0xba, 0x4f, 0x09, 0x2d, 0x25, 0x35, 0x04, 0x43};

constexpr char kProductId[] = "-//Contavio//Contavio 0.98//ES";

std::string cleanField(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    out = std::string(trimBlanks(out));
    return isEmptyText(out) ? std::string() : out;
}

std::string textValue(const std::string& cp1252) { return escapeText(cp1252ToUtf8(cp1252)); }

// URL and the like are URIs, not text: only a backslash needs its escape
// for the lenient reader, which takes escapes in them too.
std::string uriValue(const std::string& cp1252) {
    std::string out;
    for (char c : cp1252ToUtf8(cp1252)) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string nameValue(const ContactData& c) {
    return textValue(c.surnames) + ';' + textValue(c.firstNames) + ";;;";
}

std::string formattedName(const ContactData& c) {
    return textValue(joinNonEmpty({c.firstNames, c.surnames}, " "));
}

std::string adrValue(const std::string& address) { return ";;" + textValue(address) + ";;;;"; }

VCardProperty makeProperty(std::string name, std::string value) {
    return VCardProperty{{}, std::move(name), {}, std::move(value)};
}

std::vector<VCardProperty>::iterator find(std::vector<VCardProperty>& props,
                                          std::string_view name) {
    return std::find_if(props.begin(), props.end(),
                        [&](const VCardProperty& p) { return p.name == name; });
}

void eraseParam(VCardProperty& p, std::string_view name) {
    std::erase_if(p.params, [&](const VCardParam& q) { return q.name == name; });
}

// Sets the first property `name` to value, removes it when value is empty,
// or adds it at the end.
void setFirst(std::vector<VCardProperty>& props, std::string_view name,
              std::optional<std::string> value) {
    auto it = find(props, name);
    if (!value) {
        if (it != props.end()) props.erase(it);
    } else if (it != props.end()) {
        it->value = std::move(*value);
    } else {
        props.push_back(makeProperty(std::string(name), std::move(*value)));
    }
}

// Makes the properties `name` read as items, in that order: a property whose
// item is still wanted is kept with its parameters and group, new items get a
// plain property, and the list stands where its first property stood.
template <typename ItemOf>
void setList(std::vector<VCardProperty>& props, std::string_view name,
             const std::vector<std::string>& items, ItemOf itemOf, bool asUri) {
    std::vector<VCardProperty> old;
    size_t at = props.size();
    for (size_t i = 0; i < props.size();) {
        if (props[i].name == name) {
            at = std::min(at, i);
            old.push_back(std::move(props[i]));
            props.erase(props.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    at = std::min(at, props.size());
    std::vector<std::string> oldItems;
    for (const VCardProperty& p : old) oldItems.push_back(fieldText(itemOf(p)));
    std::vector<bool> used(old.size(), false);
    std::vector<VCardProperty> list;
    for (const std::string& item : items) {
        size_t j = 0;
        while (j < old.size() && (used[j] || oldItems[j] != item)) ++j;
        if (j < old.size()) {
            used[j] = true;
            list.push_back(old[j]);
        } else {
            list.push_back(
                makeProperty(std::string(name), asUri ? uriValue(item) : textValue(item)));
        }
    }
    props.insert(props.begin() + static_cast<std::ptrdiff_t>(at), list.begin(), list.end());
}
// Sets N's family and given names (clearing its additional names) and FN,
// adding them when missing.
void setNames(std::vector<VCardProperty>& props, const ContactData& want) {
    auto n = find(props, "N");
    if (n != props.end()) {
        std::vector<std::string> parts = splitEscaped(n->value, ';');
        parts.resize(std::max<size_t>(parts.size(), 5));
        parts[0] = textValue(want.surnames);
        parts[1] = textValue(want.firstNames);
        parts[2].clear();
        n->value = parts[0];
        for (size_t i = 1; i < parts.size(); ++i) n->value += ';' + parts[i];
    } else {
        props.insert(find(props, "FN"), makeProperty("N", nameValue(want)));
    }
    auto fn = find(props, "FN");
    if (fn != props.end()) {
        fn->value = formattedName(want);
    } else {
        props.insert(find(props, "N") + 1, makeProperty("FN", formattedName(want)));
    }
}

}  // namespace

ContactData normalizedContact(const ContactData& contact, std::vector<std::string>* warnings) {
    ContactData n;
    n.firstNames = cleanField(contact.firstNames);
    n.surnames = cleanField(contact.surnames);
    n.address = cleanField(contact.address);
    n.web = cleanField(contact.web);
    n.notes = cleanField(contact.notes);
    for (const std::string& phone : contact.phones) {
        if (std::string p = cleanField(phone); !p.empty()) n.phones.push_back(p);
    }
    for (const std::string& email : contact.emails) {
        if (std::string e = cleanField(email); !e.empty()) n.emails.push_back(e);
    }
    if (isEmptyDay(contact.day) && isEmptyMonth(contact.month)) return n;
    const std::string_view day = trimBlanks(contact.day);
    const std::string_view month = trimBlanks(contact.month);
    if (isValidBirthday(dayNumber(day), monthNumber(month))) {
        n.day = std::string(day);
        n.month = std::string(month);
    } else if (warnings != nullptr) {
        warnings->push_back("fecha de nacimiento no exportada (" + std::string(day) + " " +
                            std::string(month) + ")");
    }
    return n;
}

void appendNote(VCard& card, const std::string& line) {
    // The card's notes read as one line, in their order: the last NOTE
    // takes the addition.
    auto& props = card.properties;
    auto last = std::find_if(props.rbegin(), props.rend(),
                             [](const VCardProperty& p) { return p.name == "NOTE"; });
    auto note = last == props.rend() ? props.end() : std::prev(last.base());
    if (note == card.properties.end()) {
        card.properties.push_back(makeProperty("NOTE", textValue(line)));
        return;
    }
    std::string text = unescapeText(note->value);
    const std::string_view kept = trimBlanks(text);
    const bool empty = kept.empty() || isEmptyText(fieldText(kept));
    note->value =
        escapeText((empty ? std::string() : std::string(kept) + " ") + cp1252ToUtf8(line));
}

std::string contactUid(std::string_view key, VCardVersion version) {
    const std::string uuid = nameBasedUuid(kContactNamespace, key);
    return version == VCardVersion::V40 ? "urn:uuid:" + uuid : uuid;
}

VCard cardFromContact(const ContactData& contact, VCardVersion version,
                      std::vector<std::string>& warnings) {
    const ContactData c = normalizedContact(contact, &warnings);
    VCard card;
    card.version = version == VCardVersion::V40 ? VCardVersion::V40 : VCardVersion::V30;
    auto& props = card.properties;
    props.push_back(makeProperty("PRODID", kProductId));
    props.push_back(makeProperty("UID", contactUid(contactKeyOf(contact), card.version)));
    props.push_back(makeProperty("N", nameValue(c)));
    props.push_back(makeProperty("FN", formattedName(c)));
    for (const std::string& phone : c.phones)
        props.push_back(makeProperty("TEL", textValue(phone)));
    for (const std::string& email : c.emails)
        props.push_back(makeProperty("EMAIL", textValue(email)));
    if (!c.address.empty()) props.push_back(makeProperty("ADR", adrValue(c.address)));
    if (!c.web.empty()) props.push_back(makeProperty("URL", uriValue(c.web)));
    if (!c.day.empty()) {
        props.push_back(makeProperty(
            "BDAY", birthdayValue(dayNumber(c.day), monthNumber(c.month), "", card.version)));
    }
    if (!c.notes.empty()) props.push_back(makeProperty("NOTE", textValue(c.notes)));
    return card;
}

VCardExport exportVCards(const std::vector<ContactData>& contacts, VCardVersion version) {
    VCardExport out;
    for (const ContactData& contact : contacts) {
        out.warnings.emplace_back();
        out.text += writeVCard(cardFromContact(contact, version, out.warnings.back()), version);
    }
    return out;
}

std::vector<std::string> applyContact(const ContactData& contact, VCard& card) {
    std::vector<std::string> warnings;
    const ContactData want = normalizedContact(contact, &warnings);
    const ContactData have = contactFromCard(card).contact;
    auto& props = card.properties;

    const bool names = want.firstNames != have.firstNames || want.surnames != have.surnames;
    if (names) setNames(props, want);

    if (want.address != have.address) {
        auto source = find(props, "ADR");
        if (source == props.end()) source = find(props, "LABEL");
        if (want.address.empty()) {
            if (source != props.end()) props.erase(source);
        } else if (source == props.end()) {
            props.push_back(makeProperty("ADR", adrValue(want.address)));
        } else if (source->name == "ADR") {
            source->value = adrValue(want.address);
            eraseParam(*source, "LABEL");
        } else {
            source->value = textValue(want.address);
        }
    }

    if (want.web != have.web) {
        setFirst(props, "URL", want.web.empty() ? std::nullopt : std::optional(uriValue(want.web)));
    }

    if (want.day != have.day || want.month != have.month) {
        auto bday = find(props, "BDAY");
        if (want.day.empty()) {
            // A card has one birthday; a second one is junk that would show next.
            std::erase_if(props, [](const VCardProperty& p) { return p.name == "BDAY"; });
        } else {
            if (bday == props.end()) bday = props.insert(props.end(), makeProperty("BDAY", ""));
            const std::optional<Birthday> old = parseBirthday(bday->value);
            std::string year = old ? old->year : std::string();
            if (!year.empty() && want.month == kMonthNames[1] && want.day == "29") {
                const int y = std::stoi(year);
                if (y % 4 != 0 || (y % 100 == 0 && y % 400 != 0)) year.clear();
            }
            bday->value =
                birthdayValue(dayNumber(want.day), monthNumber(want.month), year, card.version);
            eraseParam(*bday, "VALUE");
            eraseParam(*bday, "X-APPLE-OMIT-YEAR");
        }
    }

    if (want.notes != have.notes) {
        // The notes of all NOTE properties make the one line: the first takes it.
        const auto note = find(props, "NOTE");
        for (auto it = props.end(); note != props.end() && it != note + 1;) {
            --it;
            if (it->name == "NOTE") it = props.erase(it);
        }
        setFirst(props, "NOTE",
                 want.notes.empty() ? std::nullopt : std::optional(textValue(want.notes)));
    }

    if (want.phones != have.phones) setList(props, "TEL", want.phones, phoneText, false);
    if (want.emails != have.emails) {
        setList(
            props, "EMAIL", want.emails,
            [](const VCardProperty& p) { return unescapeText(p.value); }, false);
    }
    // A card named after its e-mail or telephone reads other names once
    // those changed, and a company card reads its ORG.
    if (names || want.phones != have.phones || want.emails != have.emails) {
        ContactData after = contactFromCard(card).contact;
        if (after.firstNames != want.firstNames || after.surnames != want.surnames) {
            setNames(props, want);
            after = contactFromCard(card).contact;
        }
        auto org = find(props, "ORG");
        if (after.firstNames != want.firstNames && want.surnames.empty() && org != props.end()) {
            std::vector<std::string> parts = splitEscaped(org->value, ';');
            org->value = textValue(want.firstNames);
            for (size_t i = 1; i < parts.size(); ++i) org->value += ';' + parts[i];
        }
        // A person's name on a card that still reads as a company's (its FN
        // is its ORG, or it says it is one): the card then says it is a person's.
        if ((after.firstNames != want.firstNames || after.surnames != want.surnames) &&
            !want.surnames.empty()) {
            std::erase_if(props, [](const VCardProperty& p) { return p.name == "X-ABSHOWAS"; });
            setFirst(props, "KIND", std::string("individual"));
        }
    }
    return warnings;
}

}  // namespace contavio
