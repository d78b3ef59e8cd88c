#include "exchange/CardFields.h"

#include <algorithm>
#include <cstdio>

#include "exchange/ContactData.h"
#include "exchange/VCardText.h"

namespace contavio::cardfields {

namespace {

bool digits(std::string_view text, size_t from, size_t count) {
    if (text.size() < from + count) return false;
    return std::all_of(text.begin() + from, text.begin() + from + count,
                       [](char c) { return c >= '0' && c <= '9'; });
}

int number(std::string_view text, size_t from) {
    return (text[from] - '0') * 10 + (text[from + 1] - '0');
}

// Whether the UTF-8 text holds a kana (hiragana, katakana or its half-width
// forms: U+3040..U+30FF, U+FF66..U+FF9F).
bool holdsKana(std::string_view utf8) {
    for (size_t i = 0; i + 2 < utf8.size(); ++i) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        const auto b1 = static_cast<unsigned char>(utf8[i + 1]);
        const auto b2 = static_cast<unsigned char>(utf8[i + 2]);
        if (b0 == 0xE3 && (b1 == 0x81 || b1 == 0x82 || b1 == 0x83)) return true;
        if (b0 == 0xEF && ((b1 == 0xBD && b2 >= 0xA6) || (b1 == 0xBE && b2 <= 0x9F))) return true;
    }
    return false;
}

bool isVowel(char c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

}  // namespace

std::string readingText(std::string_view utf8) {
    std::string latin = fieldText(utf8);
    if (holdsKana(utf8)) {
        std::string folded;
        for (size_t i = 0; i < latin.size(); ++i) {
            const char c = latin[i];
            const char next = i + 1 < latin.size() ? latin[i + 1] : '\0';
            const bool longVowel =
                (c == 'o' && (next == 'u' || next == 'o')) || (c == 'u' && next == 'u');
            folded += c;
            if (longVowel && !(i + 2 < latin.size() && isVowel(latin[i + 2]))) ++i;
        }
        latin = std::move(folded);
    }
    for (size_t i = 0; i < latin.size(); ++i) {
        if ((i == 0 || latin[i - 1] == ' ') && latin[i] >= 'a' && latin[i] <= 'z') {
            latin[i] = static_cast<char>(latin[i] - 'a' + 'A');
        }
    }
    return latin;
}

// Windows-1252 text for a field of the book: characters outside the code
// page are transliterated (bookText, counted in *count), control characters
// become blanks (so a line break is turned as the editor flattens its memo:
// each CR and each LF one blank), the ends are trimmed and the editor's
// "n/a" is nothing.
std::string fieldText(std::string_view utf8, BookTextCount* count) {
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
            // Other control characters are blanks in the book: a part made of
            // them alone is empty, and adds no separator to a joined value.
            lines.back() += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
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

std::string phoneText(const VCardProperty& p) {
    std::string text = unescapeText(p.value);
    if (upperAscii(paramValue(p, "VALUE")) == "URI" && upperAscii(text.substr(0, 4)) == "TEL:") {
        text.erase(0, 4);
    }
    return text;
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

}  // namespace contavio::cardfields
