// Character sets and value escapes of vCard text. Inside the book every text
// is Windows-1252; a vCard file is UTF-8 (or, in version 2.1, whatever its
// CHARSET parameter names). These helpers are the only place where one turns
// into the other.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace contavio {

// Appends the code point cp (at most U+10FFFF) to out in UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// The value of a hexadecimal digit (either case), or -1.
int hexValue(char c);

// Reads bytes as UTF-8. A byte that does not begin a well-formed sequence
// (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short)
// is taken as one Windows-1252 character instead, so any input gives valid
// UTF-8 and a Latin-1 file read as UTF-8 keeps its accents.
std::string lenientUtf8(std::string_view bytes);

// Windows-1252 to UTF-8. The five codes the code page leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) become U+0081 and so on, as Windows maps them, so
// every byte comes back through utf8ToCp1252.
std::string cp1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252. A character the code page cannot hold, and a byte
// that is not well-formed UTF-8, becomes '?'; *replaced (when given) is
// increased by the number of such characters.
std::string utf8ToCp1252(std::string_view utf8, size_t* replaced = nullptr);

// What bookText did to a text besides converting it.
struct BookTextCount {
    size_t transliterated = 0;  // runs of characters written in Latin letters
    size_t replaced = 0;        // characters that became '?'
};

// UTF-8 to the book's Windows-1252, for text that people read: composed
// first (an accent written as a combining mark joins its letter), then every
// run of characters that the code page cannot hold is transliterated to
// plain Latin letters ("Иван" gives "Ivan", "ł" gives "l", Japanese, Chinese,
// Korean, Greek and Arabic their usual romanisations), while the letters the
// code page holds ("á", "ñ", "ü") stay as they are. What is still left
// outside the code page (an emoji) becomes '?'. Counts go to *count.
std::string bookText(std::string_view utf8, BookTextCount* count = nullptr);

// Bytes of a value in the character set `charset` (a CHARSET parameter, any
// case; empty when the card names none) to UTF-8. ISO-8859-1 and its aliases
// are read as Windows-1252, which is what writers that name it mean; UTF-8
// and no name at all go through judgedUtf8; any other name the C library's
// iconv knows (ISO-8859-2, WINDOWS-1251, SHIFT_JIS, KOI8-R...) is decoded by
// it, a byte it cannot read taken as Windows-1252. An unknown name goes
// through judgedUtf8 and sets *unknown (when given).
std::string charsetToUtf8(std::string_view bytes, std::string_view charset,
                          bool* unknown = nullptr);

// A value whose writer named no character set, judged as a whole: when it is
// well-formed UTF-8 it is UTF-8, otherwise every byte is Windows-1252. A
// UTF-8 sequence cut short at the very end (a file cut inside it) is dropped
// when the value is otherwise UTF-8 and holds another multi-byte character,
// or when `saysUtf8` (the card named UTF-8).
std::string judgedUtf8(std::string_view bytes, bool saysUtf8 = false);

// The text of a file in UTF-16 or UTF-32 (told by its byte-order mark, or
// UTF-16 without one by the zero bytes of its first "BEGIN") as UTF-8, the
// mark dropped; nothing when the file is in neither.
std::optional<std::string> wideFileToUtf8(std::string_view bytes);

// Quoted-printable of vCard 2.1: "=XX" (hex digits in either case) gives the
// byte XX; an '=' not followed by two hex digits stays as it is. Soft line
// breaks are joined before this runs.
std::string decodeQuotedPrintable(std::string_view text);

// Base64: the bytes of the groups of four characters of the alphabet; other
// characters are skipped and the text ends at the first '='.
std::string decodeBase64(std::string_view text);

// Escapes a text for a vCard value: backslash, comma, semicolon and line
// breaks (LF, CR, or CR LF, each written "\n").
std::string escapeText(std::string_view text);

// The inverse, lenient: "\n" and "\N" give LF; "\\", "\,", "\;", "\:" and
// Apple's "\"" give the character; any other backslash stays with what
// follows it.
std::string unescapeText(std::string_view value);

// Splits a value at every `separator` that no backslash escapes; the parts
// keep their escapes. An empty value gives one empty part.
std::vector<std::string> splitEscaped(std::string_view value, char separator);

// ASCII upper case; other bytes unchanged.
std::string upperAscii(std::string_view text);

// Text without leading and trailing blanks and tabs.
std::string_view trimBlanks(std::string_view text);

}  // namespace contavio
