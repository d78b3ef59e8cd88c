#include "persistence/CardContact.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unordered_set>

#include "persistence/NameUuid.h"
#include "persistence/VCardText.h"

namespace contavio {

namespace {

// The namespace of the book's contact UIDs; fixed once, never to change.
constexpr Uuid kContactNamespace = {0x6a, 0x45, 0x6c, 0x8a, 0x15, 0x3e, 0x44, 0x4a,
                                    0xba, 0x4f, 0x09, 0x2d, 0x25, 0x35, 0x04, 0x43};

constexpr char kProductId[] = "-//Contavio//Contavio 0.98//ES";

// The window's captions, which the warnings name.
constexpr char kNamesLabel[] = "Nombres";
constexpr char kSurnamesLabel[] = "Apellidos";
constexpr char kAddressLabel[] = "Direcci\xF3n";
constexpr char kWebLabel[] = "Web URL";
constexpr char kNotesLabel[] = "Notas";
constexpr char kPhonesLabel[] =
    "Tel\xE9"
    "fonos";
constexpr char kEmailsLabel[] = "E-mails";

// A value quoted in a warning is cut to this many characters.
constexpr size_t kQuotedLength = 60;

// Windows-1252 text for a field of the book: characters outside the code
// page are transliterated (bookText, counted in *count), control characters
// become blanks (so a line break is turned as the editor flattens its memo:
// each CR and each LF one blank), the ends are trimmed and the editor's
// "n/a" is nothing.
std::string fieldText(std::string_view utf8, BookTextCount* count = nullptr) {
    std::string text = bookText(utf8, count);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    text = std::string(trimBlanks(text));
    return isEmptyText(text) ? std::string() : text;
}

std::string joinNonEmpty(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    for (std::string& line : lines) line = std::string(trimBlanks(line));
    return lines;
}

// Component i of a structured value (N, ADR, ORG) in UTF-8, its several
// values joined by `separator`, each line of them trimmed.
std::string component(const std::vector<std::string>& components, size_t i,
                      std::string_view separator) {
    if (i >= components.size()) return {};
    std::vector<std::string> values;
    for (const std::string& value : splitEscaped(components[i], ',')) {
        values.push_back(joinNonEmpty(splitLines(unescapeText(value)), " "));
    }
    return joinNonEmpty(values, separator);
}

// An address component without the comma some writers leave at its end,
// which the ", " between components would double.
std::string adrPart(const std::vector<std::string>& components, size_t i,
                    std::string_view separator) {
    std::string text = component(components, i, separator);
    while (!text.empty() && (text.back() == ',' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string adrLine(const VCardProperty& p) {
    const std::vector<std::string> c = splitEscaped(p.value, ';');
    return joinNonEmpty({adrPart(c, 2, ", "), adrPart(c, 1, ", "), adrPart(c, 0, ", "),
                         joinNonEmpty({adrPart(c, 5, " "), adrPart(c, 3, ", ")}, " "),
                         adrPart(c, 4, ", "), adrPart(c, 6, ", ")},
                        ", ");
}

// The organisation's name: the first component of ORG, commas and all (a
// 3.0 writer may leave "Acme, Inc." unescaped).
std::string orgName(const VCardProperty& org) {
    return joinNonEmpty(splitLines(unescapeText(splitEscaped(org.value, ';')[0])), " ");
}

// Whether the part after the last comma of a name is a company's legal
// form ("Talleres Pérez, S.L."), compared without dots and blanks.
bool endsInLegalForm(std::string_view name) {
    const size_t comma = name.rfind(',');
    if (comma == std::string_view::npos) return false;
    std::string form;
    for (char c : name.substr(comma + 1)) {
        if (c != '.' && c != ' ' && c != '\t') form += c;
    }
    form = upperAscii(form);
    for (const char* legal :
         {"SL",   "SA",  "SLU", "SLL", "SAU", "SCOOP", "SC", "CB",  "SRL", "SAS",
          "SARL", "SPA", "INC", "LTD", "LLC", "LLP",   "LP", "PLC", "CO",  "CORP",
          "GMBH", "AG",  "KG",  "BV",  "NV",  "OY",    "AB", "CIA"}) {
        if (form == legal) return true;
    }
    return false;
}

std::string labelLine(const VCardProperty& p) {
    return joinNonEmpty(splitLines(unescapeText(p.value)), ", ");
}

std::string phoneText(const VCardProperty& p) {
    std::string text = unescapeText(p.value);
    if (upperAscii(paramValue(p, "VALUE")) == "URI" && upperAscii(text.substr(0, 4)) == "TEL:") {
        text.erase(0, 4);
    }
    return text;
}

struct Birthday {
    int day = 0;
    int month = 0;
    std::string year;  // four digits, or empty
};

bool digits(std::string_view text, size_t from, size_t count) {
    if (text.size() < from + count) return false;
    return std::all_of(text.begin() + from, text.begin() + from + count,
                       [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view text, size_t from) {
    return (text[from] - '0') * 10 + (text[from + 1] - '0');
}

// BDAY forms: 19850312, 1985-03-12, --0312, --03-12, each optionally with a
// time after 'T'.
std::optional<Birthday> parseBirthday(std::string_view value) {
    value = trimBlanks(value);
    Birthday b;
    size_t at = 0;
    if (value.starts_with("--")) {
        at = 2;
    } else if (digits(value, 0, 4)) {
        b.year = std::string(value.substr(0, 4));
        at = 4;
        if (value.size() > at && value[at] == '-') ++at;
    } else {
        return std::nullopt;
    }
    if (!digits(value, at, 2)) return std::nullopt;
    b.month = number(value, at);
    at += 2;
    const bool dashed = value.size() > at && value[at] == '-';
    if (dashed) ++at;
    if (!digits(value, at, 2)) return std::nullopt;
    b.day = number(value, at);
    at += 2;
    if (at < value.size() && value[at] != 'T') return std::nullopt;
    if (!isValidBirthday(b.day, b.month)) return std::nullopt;
    return b;
}

std::string birthdayValue(int day, int month, const std::string& year, VCardVersion version) {
    char text[16];
    if (version == VCardVersion::V40) {
        std::snprintf(text, sizeof text, "%s%02d%02d", year.empty() ? "--" : year.c_str(), month,
                      day);
    } else {
        std::snprintf(text, sizeof text, "%s-%02d-%02d", year.empty() ? "-" : year.c_str(), month,
                      day);
    }
    return text;
}

bool isQuiet(const std::string& name) {
    for (const char* quiet :
         {"PRODID", "REV", "UID", "KIND", "SOURCE", "NAME", "CLIENTPIDMAP", "SORT-STRING", "CLASS",
          "PROFILE", "X-PHONETIC-FIRST-NAME", "X-PHONETIC-LAST-NAME"}) {
        if (name == quiet) return true;
    }
    return name.starts_with("X-AB") || name.starts_with("X-APPLE");
}

// Reads one card into a contact, collecting warnings.
class CardReader {
  public:
    explicit CardReader(const VCard& card) : card_(card) {}

    CardImport read() {
        readNames();
        readAddress();
        for (const VCardProperty& p : card_.properties) readProperty(p);
        if (card_.cutShort) result_.damage = "tarjeta cortada: le falta END:VCARD";
        if (nameTransliterated_) result_.writtenName = joinNonEmpty(writtenNames_, " ");
        return std::move(result_);
    }

  private:
    void warn(std::string text) {
        if (warned_.insert(text).second) result_.warnings.push_back(std::move(text));
    }

    // text and the value in parentheses, cut short, in Windows-1252; nothing
    // when the value is empty, as nothing is lost then.
    void warnAbout(std::string text, std::string_view utf8) {
        std::string quoted = fieldText(utf8);
        if (quoted.empty()) return;
        if (quoted.size() > kQuotedLength) quoted = quoted.substr(0, kQuotedLength) + "...";
        warn(text + " (" + quoted + ")");
    }

    std::string field(std::string_view utf8, const char* label) {
        BookTextCount count;
        std::string text = fieldText(utf8, &count);
        if (count.transliterated > 0) {
            warn(std::string("texto transliterado a letras latinas en ") + label);
        }
        if (count.replaced > 0) {
            warn(std::string("caracteres fuera de Windows-1252 cambiados por '?' en ") + label);
        }
        if (label == kNamesLabel || label == kSurnamesLabel) {
            writtenNames_.emplace_back(trimBlanks(utf8));
            nameTransliterated_ = nameTransliterated_ || count.transliterated > 0;
        }
        return text;
    }

    const VCardProperty* first(std::string_view name) const {
        for (const VCardProperty& p : card_.properties) {
            if (p.name == name) return &p;
        }
        return nullptr;
    }

    std::string firstValue(std::string_view name) const {
        const VCardProperty* p = first(name);
        return p == nullptr ? std::string() : unescapeText(p->value);
    }

    // Apple's company cards say so; others give no person's name and an FN
    // that is the organisation or ends in a legal form.
    bool isCompany(const std::string& fn, const std::string& org) const {
        if (upperAscii(trimBlanks(firstValue("X-ABSHOWAS"))) == "COMPANY") return true;
        const std::string kind = upperAscii(trimBlanks(firstValue("KIND")));
        if (kind == "ORG" || kind == "ORGANIZATION") return true;
        const std::string_view name = trimBlanks(fn);
        return !name.empty() && (name == trimBlanks(org) || endsInLegalForm(name));
    }

    void readNames() {
        ContactData& c = result_.contact;
        const VCardProperty* org = first("ORG");
        const std::string orgText = org != nullptr ? orgName(*org) : std::string();
        const std::string fn = joinNonEmpty(splitLines(firstValue("FN")), " ");
        std::vector<std::string> person;  // N's given and family names
        if (const VCardProperty* n = first("N")) {
            const std::vector<std::string> parts = splitEscaped(n->value, ';');
            person = {joinNonEmpty({component(parts, 1, " "), component(parts, 2, " ")}, " "),
                      component(parts, 0, " ")};
            if (isEmptyText(person[0]) && isEmptyText(person[1])) person.clear();
        }
        if (isCompany(fn, orgText) && (person.empty() || !isEmptyText(orgText))) {
            c.firstNames = field(!isEmptyText(orgText) ? orgText : fn, kNamesLabel);
            orgIsName_ = !isEmptyText(orgText);
            if (!person.empty()) {
                warnAbout("persona de contacto no importada", joinNonEmpty(person, " "));
            }
        } else if (!person.empty()) {
            const std::vector<std::string> parts = splitEscaped(first("N")->value, ';');
            c.firstNames = field(person[0], kNamesLabel);
            c.surnames = field(person[1], kSurnamesLabel);
            if (const std::string prefix = component(parts, 3, " "); !prefix.empty()) {
                warnAbout("tratamiento no importado", prefix);
            }
            if (const std::string suffix = component(parts, 4, " "); !suffix.empty()) {
                warnAbout("sufijo del nombre no importado", suffix);
            }
        }
        if (c.firstNames.empty() && c.surnames.empty() && !isEmptyText(fn)) {
            splitFormattedName(fn);
        }
        if (c.firstNames.empty() && c.surnames.empty() && !isEmptyText(orgText)) {
            c.firstNames = field(orgText, kNamesLabel);
            orgIsName_ = !c.firstNames.empty();
        }
        if (c.firstNames.empty() && c.surnames.empty()) nameAfterAddresses();
    }

    // A card without a name (a phone's e-mail-only entry): the contact is
    // named after what the card has, so that two of them stay two contacts.
    void nameAfterAddresses() {
        ContactData& c = result_.contact;
        result_.nameless = true;
        for (const char* property : {"EMAIL", "TEL"}) {
            for (const VCardProperty& p : card_.properties) {
                if (p.name != property) continue;
                c.firstNames = fieldText(p.name == "TEL" ? phoneText(p) : unescapeText(p.value));
                if (c.firstNames.empty()) continue;
                warn(p.name == "TEL" ? "contacto sin nombre: se nombra por su tel\xE9"
                                       "fono"
                                     : "contacto sin nombre: se nombra por su e-mail");
                return;
            }
        }
        warn("contacto sin nombre");
    }

    // "Pérez García, María José", or words: one is a first name, two are a
    // first name and a surname, more end in two surnames. A company's name
    // stays whole and in order.
    void splitFormattedName(const std::string& line) {
        ContactData& c = result_.contact;
        if (const size_t comma = line.find(','); comma != std::string::npos) {
            c.surnames = field(line.substr(0, comma), kSurnamesLabel);
            c.firstNames = field(line.substr(comma + 1), kNamesLabel);
            return;
        }
        std::vector<std::string> words(1);
        for (char ch : line) {
            if (ch == ' ' || ch == '\t') {
                if (!words.back().empty()) words.emplace_back();
            } else {
                words.back() += ch;
            }
        }
        if (words.back().empty()) words.pop_back();
        const size_t given =
            words.size() <= 2 ? std::min<size_t>(words.size(), 1) : words.size() - 2;
        c.firstNames =
            field(joinNonEmpty({words.begin(), words.begin() + given}, " "), kNamesLabel);
        c.surnames = field(joinNonEmpty({words.begin() + given, words.end()}, " "), kSurnamesLabel);
    }

    // The first ADR, or without one the first LABEL; the others are named.
    void readAddress() {
        const char* source = first("ADR") != nullptr ? "ADR" : "LABEL";
        bool taken = false;
        for (const VCardProperty& p : card_.properties) {
            if (p.name != source) continue;
            const std::string line = p.name == "ADR" ? adrLine(p) : labelLine(p);
            if (!taken) {
                result_.contact.address = field(line, kAddressLabel);
                taken = true;
            } else if (!line.empty()) {
                warnAbout("direcci\xF3n adicional no importada", line);
            }
        }
    }

    void readProperty(const VCardProperty& p) {
        ContactData& c = result_.contact;
        const std::string& name = p.name;
        if (const std::string charset = paramValue(p, "CHARSET"); !charset.empty()) {
            warnAbout(
                "juego de caracteres desconocido, le\xED"
                "do como UTF-8 o Windows-1252",
                charset);
        }
        if (name == "N" || name == "FN" || name == "ADR" || name == "LABEL" || isQuiet(name)) {
            return;
        } else if (name == "TEL") {
            if (std::string t = field(phoneText(p), kPhonesLabel); !t.empty())
                c.phones.push_back(t);
        } else if (name == "EMAIL") {
            std::string e = field(unescapeText(p.value), kEmailsLabel);
            if (!e.empty()) c.emails.push_back(e);
        } else if (name == "URL") {
            const std::string url = unescapeText(p.value);
            if (!webSeen_) {
                c.web = field(url, kWebLabel);
                webSeen_ = true;
            } else {
                warnAbout("web adicional no importada", url);
            }
        } else if (name == "NOTE") {
            const std::string note = field(unescapeText(p.value), kNotesLabel);
            c.notes = joinNonEmpty({c.notes, note}, " ");
        } else if (name == "BDAY") {
            readBirthday(p);
        } else if (name == "PHOTO") {
            warn("foto no importada");
        } else if (name == "LOGO") {
            warn("logotipo no importado");
        } else if (name == "SOUND") {
            warn("sonido no importado");
        } else if (name == "ORG") {
            if (!orgIsName_) warnAbout("organizaci\xF3n no importada", unescapeText(p.value));
        } else if (name == "TITLE") {
            warnAbout("cargo no importado", unescapeText(p.value));
        } else if (name == "ROLE") {
            warnAbout("funci\xF3n no importada", unescapeText(p.value));
        } else if (name == "NICKNAME") {
            warnAbout("apodo no importado", unescapeText(p.value));
        } else if (name == "ANNIVERSARY") {
            warnAbout("aniversario no importado", p.value);
        } else if (name == "CATEGORIES") {
            warnAbout(
                "categor\xED"
                "as no importadas",
                unescapeText(p.value));
        } else if (name == "IMPP") {
            warnAbout(
                "mensajer\xED"
                "a instant\xE1nea no importada",
                unescapeText(p.value));
        } else if (name == "GEO") {
            warn(
                "posici\xF3n geogr\xE1"
                "fica no importada");
        } else {
            warn("propiedad " + utf8ToCp1252(name) + " no importada");
        }
    }

    void readBirthday(const VCardProperty& p) {
        ContactData& c = result_.contact;
        if (birthdaySeen_) {
            warnAbout("fecha de nacimiento adicional no importada", p.value);
            return;
        }
        birthdaySeen_ = true;
        const std::optional<Birthday> b = parseBirthday(p.value);
        if (!b) {
            warnAbout("fecha de nacimiento no reconocida", unescapeText(p.value));
            return;
        }
        c.day = std::to_string(b->day);
        c.month = std::string(kMonthNames[b->month - 1]);
        // 1604 is the year Apple writes for a birthday without one.
        if (!b->year.empty() && b->year != "1604" &&
            paramValue(p, "X-APPLE-OMIT-YEAR") != b->year) {
            warn("a\xF1o de nacimiento descartado (" + b->year + ")");
        }
    }

    const VCard& card_;
    CardImport result_;
    std::unordered_set<std::string> warned_;
    bool orgIsName_ = false;
    bool nameTransliterated_ = false;
    std::vector<std::string> writtenNames_;  // UTF-8, as the card writes them
    bool webSeen_ = false;
    bool birthdaySeen_ = false;
};

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

}  // namespace

CardImport contactFromCard(const VCard& card) { return CardReader(card).read(); }

std::vector<CardImport> importVCards(std::string_view text) {
    std::vector<CardImport> contacts;
    for (const VCard& card : parseVCards(text)) contacts.push_back(contactFromCard(card));
    return contacts;
}

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

    if (want.firstNames != have.firstNames || want.surnames != have.surnames) {
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
    return warnings;
}

}  // namespace contavio
