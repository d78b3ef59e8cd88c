#include "exchange/VCardText.h"

#include <iconv.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>

namespace contavio {

namespace {

// Code points of Windows-1252 0x80..0x9F; the undefined ones map onto
// themselves.
constexpr std::array<char16_t, 32> kHighCodes = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char32_t cp1252Code(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighCodes[byte - 0x80] : byte;
}

// The Windows-1252 byte of cp, or -1.
int cp1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (size_t i = 0; i < kHighCodes.size(); ++i) {
        if (kHighCodes[i] == cp) return static_cast<int>(0x80 + i);
    }
    return -1;
}

// Decodes one well-formed UTF-8 sequence at text[pos]; returns its length
// (0 when it is not well-formed) and the code point in cp.
size_t decodeUtf8(std::string_view text, size_t pos, char32_t& cp) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t length;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(pos + i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return length;
}

// The length of the well-formed UTF-8 prefix of text.
size_t wellFormedPrefix(std::string_view text, size_t* multiByte) {
    size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp;
        const size_t length = decodeUtf8(text, pos, cp);
        if (length == 0) break;
        if (length > 1) ++*multiByte;
        pos += length;
    }
    return pos;
}

// Whether tail is the start of a UTF-8 sequence that the end cut short.
bool isCutSequence(std::string_view tail) {
    if (tail.empty() || tail.size() > 3) return false;
    const auto b0 = static_cast<unsigned char>(tail[0]);
    const size_t length = (b0 & 0xE0) == 0xC0   ? 2
                          : (b0 & 0xF0) == 0xE0 ? 3
                          : (b0 & 0xF8) == 0xF0 ? 4
                                                : 0;
    if (length <= tail.size()) return false;
    for (size_t i = 1; i < tail.size(); ++i) {
        if ((static_cast<unsigned char>(tail[i]) & 0xC0) != 0x80) return false;
    }
    return true;
}

// Bytes in `from` (an iconv name) to UTF-8; nothing when iconv does not
// know the name. A sequence it cannot read is taken, unit by unit, as
// Windows-1252 (unit 1) or skipped (wider units); one the end cuts short is
// dropped.
std::optional<std::string> iconvToUtf8(std::string_view bytes, const char* from, size_t unit) {
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::string buffer(4 * bytes.size() + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* to = buffer.data();
        size_t toLeft = buffer.size();
        const size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
        out.append(buffer.data(), buffer.size() - toLeft);
        if (done != static_cast<size_t>(-1)) break;
        if (errno == EILSEQ) {
            const size_t skip = std::min(unit, inLeft);
            if (unit == 1) appendUtf8(out, cp1252Code(static_cast<unsigned char>(*in)));
            in += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (errno != E2BIG) {
            break;  // EINVAL: cut short at the end
        }
    }
    iconv_close(cd);
    return out;
}

// The one transliterator of the process; ICU's are not safe to share
// between threads, hence the lock.
class Romaniser {
  public:
    static Romaniser& instance() {
        static Romaniser romaniser;
        return romaniser;
    }

    // A run of characters outside Windows-1252 in Latin letters, UTF-8.
    std::string latin(std::string_view utf8) {
        icu::UnicodeString text = icu::UnicodeString::fromUTF8(
            icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (transliterator_) transliterator_->transliterate(text);
        }
        std::string out;
        text.toUTF8String(out);
        return out;
    }

    // Composed (NFC), so that a letter and its combining accent meet.
    std::string composed(std::string_view utf8) const {
        if (nfc_ == nullptr) return std::string(utf8);
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeString text =
            nfc_->normalize(icu::UnicodeString::fromUTF8(
                                icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size()))),
                            status);
        if (U_FAILURE(status)) return std::string(utf8);
        std::string out;
        text.toUTF8String(out);
        return out;
    }

  private:
    Romaniser() {
        UErrorCode status = U_ZERO_ERROR;
        transliterator_.reset(
            icu::Transliterator::createInstance("Any-Latin; Latin-ASCII", UTRANS_FORWARD, status));
        if (U_FAILURE(status)) transliterator_.reset();
        status = U_ZERO_ERROR;
        nfc_ = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status)) nfc_ = nullptr;
    }

    std::mutex mutex_;
    std::unique_ptr<icu::Transliterator> transliterator_;
    const icu::Normalizer2* nfc_ = nullptr;
};

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string lenientUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t pos = 0; pos < bytes.size();) {
        char32_t cp;
        const size_t length = decodeUtf8(bytes, pos, cp);
        if (length == 0) {
            appendUtf8(out, cp1252Code(static_cast<unsigned char>(bytes[pos])));
            ++pos;
        } else {
            out.append(bytes.substr(pos, length));
            pos += length;
        }
    }
    return out;
}

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) appendUtf8(out, cp1252Code(static_cast<unsigned char>(c)));
    return out;
}

std::string utf8ToCp1252(std::string_view utf8, size_t* replaced) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        size_t length = decodeUtf8(utf8, pos, cp);
        const int byte = length == 0 ? -1 : cp1252Byte(cp);
        if (byte < 0) {
            out += '?';
            if (replaced != nullptr) ++*replaced;
        } else {
            out += static_cast<char>(byte);
        }
        pos += length == 0 ? 1 : length;
    }
    return out;
}

std::string bookText(std::string_view utf8, BookTextCount* count) {
    if (isAscii(utf8)) return std::string(utf8);
    Romaniser& romaniser = Romaniser::instance();
    const std::string text = romaniser.composed(utf8);
    std::string out;
    out.reserve(text.size());
    std::string run;  // characters the code page cannot hold, in a row
    const auto flush = [&] {
        if (run.empty()) return;
        size_t replaced = 0;
        const std::string latin = utf8ToCp1252(romaniser.latin(run), &replaced);
        out += latin;
        if (count != nullptr) {
            count->replaced += replaced;
            if (replaced < latin.size()) ++count->transliterated;
        }
        run.clear();
    };
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        const size_t length = decodeUtf8(text, pos, cp);
        if (length == 0) {
            flush();
            out += '?';
            if (count != nullptr) ++count->replaced;
            ++pos;
            continue;
        }
        const int byte = cp1252Byte(cp);
        if (byte >= 0) {
            flush();
            out += static_cast<char>(byte);
        } else {
            run.append(text, pos, length);
        }
        pos += length;
    }
    flush();
    return out;
}

std::string judgedUtf8(std::string_view bytes, bool saysUtf8) {
    size_t multiByte = 0;
    const size_t good = wellFormedPrefix(bytes, &multiByte);
    if (good == bytes.size()) return std::string(bytes);
    if (isCutSequence(bytes.substr(good)) && (saysUtf8 || multiByte > 0)) {
        return std::string(bytes.substr(0, good));
    }
    return cp1252ToUtf8(bytes);
}

std::string charsetToUtf8(std::string_view bytes, std::string_view charset, bool* unknown) {
    const std::string name = upperAscii(trimBlanks(charset));
    for (const char* latin : {"ISO-8859-1", "ISO8859-1", "ISO_8859-1", "LATIN1", "LATIN-1",
                              "WINDOWS-1252", "CP1252", "US-ASCII", "ASCII"}) {
        if (name == latin) return cp1252ToUtf8(bytes);
    }
    if (name.empty() || name == "UTF-8" || name == "UTF8") return judgedUtf8(bytes, !name.empty());
    if (isAscii(bytes) && name.find("16") == std::string::npos &&
        name.find("32") == std::string::npos) {
        return std::string(bytes);  // no need to ask iconv about plain ASCII
    }
    if (std::optional<std::string> text = iconvToUtf8(bytes, name.c_str(), 1)) return *text;
    if (unknown != nullptr) *unknown = true;
    return judgedUtf8(bytes);
}

std::optional<std::string> wideFileToUtf8(std::string_view bytes) {
    static const struct {
        std::string_view mark;
        const char* code;
        size_t unit;
    } kMarks[] = {{std::string_view("\xFF\xFE\0\0", 4), "UTF-32LE", 4},
                  {std::string_view("\0\0\xFE\xFF", 4), "UTF-32BE", 4},
                  {"\xFF\xFE", "UTF-16LE", 2},
                  {"\xFE\xFF", "UTF-16BE", 2}};
    for (const auto& m : kMarks) {
        if (bytes.starts_with(m.mark)) {
            return iconvToUtf8(bytes.substr(m.mark.size()), m.code, m.unit);
        }
    }
    // Without a mark, by the first "BEGIN": a file whose first one is in
    // single bytes is not wide, whatever zero bytes a later line holds.
    const std::string_view head = bytes.substr(0, 1024);
    const size_t narrow = upperAscii(head).find("BEGIN");
    const auto wideFirst = [&](std::string_view wide) {
        const size_t at = head.find(wide);
        return at != std::string_view::npos && (narrow == std::string_view::npos || at < narrow);
    };
    if (wideFirst(std::string_view("B\0E\0G\0I\0N\0", 10))) {
        return iconvToUtf8(bytes, "UTF-16LE", 2);
    }
    if (wideFirst(std::string_view("\0B\0E\0G\0I\0N", 10))) {
        return iconvToUtf8(bytes, "UTF-16BE", 2);
    }
    return std::nullopt;
}

std::string decodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string decodeBase64(std::string_view text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z') {
            v = c - 'A';
        } else if (c >= 'a' && c <= 'z') {
            v = c - 'a' + 26;
        } else if (c >= '0' && c <= '9') {
            v = c - '0' + 52;
        } else if (c == '+' || c == '/') {
            v = c == '+' ? 62 : 63;
        } else if (c == '=') {
            break;
        } else {
            continue;
        }
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    if (count >= 2) out += static_cast<char>(bits >> (6 * count - 8));
    if (count == 3) out += static_cast<char>(bits >> 2);
    return out;
}

std::string escapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == ',' || c == ';') {
            out += '\\';
            out += c;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescapeText(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[i + 1];
        if (next == 'n' || next == 'N') {
            out += '\n';
        } else if (next == '\\' || next == ',' || next == ';' || next == ':' || next == '"') {
            out += next;
        } else {
            out += '\\';
            out += next;
        }
        ++i;
    }
    return out;
}

std::vector<std::string> splitEscaped(std::string_view value, char separator) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            parts.back() += value.substr(i, 2);
            ++i;
        } else if (value[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back() += value[i];
        }
    }
    return parts;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view trimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace contavio
