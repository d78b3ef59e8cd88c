#include <unordered_set>
#include <utility>

#include "exchange/CardContact.h"
#include "exchange/CardFields.h"
#include "exchange/VCardText.h"

namespace contavio {

namespace {

using namespace cardfields;

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

bool isQuiet(const std::string& name) {
    for (const char* quiet :
         {"PRODID", "REV", "UID", "KIND", "SOURCE", "NAME", "CLIENTPIDMAP", "SORT-STRING", "CLASS",
          "PROFILE", "X-PHONETIC-FIRST-NAME", "X-PHONETIC-MIDDLE-NAME", "X-PHONETIC-LAST-NAME"}) {
        if (name == quiet) return true;
    }
    return name.starts_with("X-AB") || name.starts_with("X-APPLE");
}

// 2.1's phonetic reading of the name: SOUND;X-IRMC-N, structured like N.
bool isNameReading(const VCardProperty& p) {
    if (p.name != "SOUND") return false;
    for (const VCardParam& q : p.params) {
        if (q.name == "X-IRMC-N" || upperAscii(q.value) == "X-IRMC-N") return true;
    }
    return false;
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

    // reading: the card's phonetic reading of a name, which gives its Latin
    // letters when the name itself has to be transliterated.
    std::string field(std::string_view utf8, const char* label, std::string_view reading = {}) {
        BookTextCount count;
        std::string text = fieldText(utf8, &count);
        if (count.transliterated > 0 && !reading.empty()) {
            if (std::string read = readingText(reading); !read.empty()) text = std::move(read);
        }
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

    // The card's phonetic readings of its given names and of its family
    // names (UTF-8): X-PHONETIC-FIRST-NAME (and -MIDDLE-NAME) and
    // X-PHONETIC-LAST-NAME, or else 2.1's SOUND;X-IRMC-N.
    std::pair<std::string, std::string> readings() const {
        std::string given =
            joinNonEmpty({joinNonEmpty(splitLines(firstValue("X-PHONETIC-FIRST-NAME")), " "),
                          joinNonEmpty(splitLines(firstValue("X-PHONETIC-MIDDLE-NAME")), " ")},
                         " ");
        std::string family = joinNonEmpty(splitLines(firstValue("X-PHONETIC-LAST-NAME")), " ");
        if (!given.empty() || !family.empty()) return {given, family};
        for (const VCardProperty& p : card_.properties) {
            if (!isNameReading(p)) continue;
            const std::vector<std::string> parts = splitEscaped(p.value, ';');
            return {joinNonEmpty({component(parts, 1, " "), component(parts, 2, " ")}, " "),
                    component(parts, 0, " ")};
        }
        return {};
    }

    // Apple's company cards say so; others give no person's name and an FN
    // that is the organisation or ends in a legal form, unless they say that
    // they are a person's.
    bool isCompany(const std::string& fn, const std::string& org) const {
        if (upperAscii(trimBlanks(firstValue("X-ABSHOWAS"))) == "COMPANY") return true;
        const std::string kind = upperAscii(trimBlanks(firstValue("KIND")));
        if (kind == "ORG" || kind == "ORGANIZATION") return true;
        if (kind == "INDIVIDUAL") return false;
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
            const auto [givenReading, familyReading] = readings();
            c.firstNames = field(person[0], kNamesLabel, givenReading);
            c.surnames = field(person[1], kSurnamesLabel, familyReading);
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
            if (!isNameReading(p)) warn("sonido no importado");
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
}  // namespace

CardImport contactFromCard(const VCard& card) { return CardReader(card).read(); }

std::vector<CardImport> importVCards(std::string_view text) {
    std::vector<CardImport> contacts;
    for (const VCard& card : parseVCards(text)) contacts.push_back(contactFromCard(card));
    return contacts;
}

}  // namespace contavio
