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

}  // namespace

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
