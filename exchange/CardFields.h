// Field texts of a card shared by reading a card into a contact and
// writing a contact onto a card, so that both read a value the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/VCard.h"
#include "exchange/VCardText.h"

namespace contavio::cardfields {

// Windows-1252 text for a field of the book: characters outside the code
// page are transliterated (bookText, counted in *count), control characters
// become blanks (so a line break is turned as the editor flattens its memo:
// each CR and each LF one blank), the ends are trimmed and the editor's
// "n/a" is nothing.
std::string fieldText(std::string_view utf8, BookTextCount* count = nullptr);

// A phonetic reading of a name (X-PHONETIC-FIRST-NAME, 2.1's SOUND;X-IRMC-N),
// in UTF-8, as the book's Windows-1252 text for that name: transliterated,
// and when written in kana, in Hepburn as passports write Japanese names, a
// long vowel as one letter ("ou", "oo" or "uu" before a consonant or at the
// end: "アンドウ" gives "Ando", "イノウエ" "Inoue"), each word capitalised.
std::string readingText(std::string_view utf8);

// The non-empty parts joined by separator.
std::string joinNonEmpty(const std::vector<std::string>& parts, std::string_view separator);

// The lines of text (split at CR and LF), other control characters as
// blanks, each trimmed.
std::vector<std::string> splitLines(std::string_view text);

// Component i of a structured value (N, ADR, ORG) in UTF-8, its several
// values joined by `separator`, each line of them trimmed.
std::string component(const std::vector<std::string>& components, size_t i,
                      std::string_view separator);

// A TEL's text, without "tel:" when it is a URI.
std::string phoneText(const VCardProperty& p);

struct Birthday {
    int day = 0;
    int month = 0;
    std::string year;  // four digits, or empty
};

// BDAY forms: 19850312, 1985-03-12, --0312, --03-12, each optionally with a
// time after 'T'; nothing when the date does not exist.
std::optional<Birthday> parseBirthday(std::string_view value);

// A BDAY value of the version's form, with the year when there is one.
std::string birthdayValue(int day, int month, const std::string& year, VCardVersion version);

}  // namespace contavio::cardfields
