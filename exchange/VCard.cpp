// One file although past 500 lines: the reader and the writer of vCard text
// share its rules (escaping, folding, parameters, code pages), which must
// change together.
#include "exchange/VCard.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "exchange/VCardText.h"

namespace contavio {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kFoldOctets = 75;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool equalsUpper(std::string_view text, std::string_view upper) {
    return upperAscii(trimBlanks(text)) == upper;
}

std::string unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// The position of the ':' that ends a line's name and parameters: the first
// one outside a double-quoted parameter value, or, when quotes are left open,
// the first one at all.
size_t findValueColon(std::string_view line) {
    bool inParams = false;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ';' && !quoted) inParams = true;
        if (c == '"' && inParams) quoted = !quoted;
        if (c == ':' && !quoted) return i;
    }
    return line.find(':');
}

// Splits at every ';' outside double quotes.
std::vector<std::string_view> splitHead(std::string_view head) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '"' && !parts.empty()) quoted = !quoted;
        if (head[i] == ';' && !quoted) {
            parts.push_back(head.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(head.substr(start));
    return parts;
}

VCardParam parseParam(std::string_view text) {
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
        // 2.1 allows the value alone; the encodings are told apart by name.
        const std::string upper = upperAscii(text);
        const bool encoding =
            upper == "QUOTED-PRINTABLE" || upper == "BASE64" || upper == "7BIT" || upper == "8BIT";
        return {encoding ? "ENCODING" : "TYPE", lenientUtf8(text)};
    }
    const std::string_view name = trimBlanks(text.substr(0, eq));
    VCardParam param{lenientUtf8(upperAscii(name)), lenientUtf8(trimBlanks(text.substr(eq + 1)))};
    if (name != param.name) param.spelled = lenientUtf8(name);
    return param;
}

// The name to write: as it was read, when that still names the same.
const std::string& spelledName(const std::string& name, const std::string& spelled) {
    return !spelled.empty() && upperAscii(spelled) == name ? spelled : name;
}

// A content line before its value is decoded: name, group and parameters in
// UTF-8, the value still in the bytes of the file.
struct RawProperty {
    VCardProperty property;
    std::string_view value;
};

bool splitLine(std::string_view line, RawProperty& out) {
    const size_t colon = findValueColon(line);
    if (colon == std::string_view::npos) return false;
    const std::vector<std::string_view> head = splitHead(line.substr(0, colon));
    std::string_view name = trimBlanks(head[0]);
    const size_t dot = name.rfind('.');
    VCardProperty& p = out.property;
    p = {};
    if (dot != std::string_view::npos) {
        p.group = lenientUtf8(trimBlanks(name.substr(0, dot)));
        name = trimBlanks(name.substr(dot + 1));
    }
    if (name.empty()) return false;
    p.name = lenientUtf8(upperAscii(name));
    if (name != p.name) p.spelled = lenientUtf8(name);
    for (size_t i = 1; i < head.size(); ++i) {
        const std::string_view param = trimBlanks(head[i]);
        if (!param.empty()) p.params.push_back(parseParam(param));
    }
    out.value = line.substr(colon + 1);
    return true;
}

// What the parameters of a line say about how its continuation lines join.
struct LineEncoding {
    bool quotedPrintable = false;
    bool base64 = false;
};

LineEncoding encodingOf(std::string_view line) {
    RawProperty raw;
    if (!splitLine(line, raw)) return {};
    const std::string encoding = upperAscii(paramValue(raw.property, "ENCODING"));
    return {encoding == "QUOTED-PRINTABLE", encoding == "B" || encoding == "BASE64"};
}

bool isEndLine(std::string_view line) { return equalsUpper(line, "END:VCARD"); }

// Cards joined with cat keep each file's byte-order mark before BEGIN.
std::string_view withoutMarks(std::string_view line) {
    std::string_view rest = line;
    while (rest.starts_with(kByteOrderMark)) rest.remove_prefix(kByteOrderMark.size());
    return rest.size() != line.size() && upperAscii(rest.substr(0, 6)) == "BEGIN:" ? rest : line;
}

std::vector<std::string_view> physicalLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        lines.push_back(withoutMarks(text.substr(pos, end - pos)));
        pos = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
    }
    return lines;
}

bool isBase64Data(std::string_view line) {
    line = trimBlanks(line);
    return !line.empty() && std::all_of(line.begin(), line.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '+' || c == '/' || c == '=';
    });
}

// Whether physical line i, with the indented lines that continue it, holds
// no ':', so that it cannot be a property of its own.
bool holdsNoColon(const std::vector<std::string_view>& lines, size_t i) {
    if (lines[i].find(':') != std::string_view::npos) return false;
    for (++i; i < lines.size() && !lines[i].empty() && isBlank(lines[i][0]); ++i) {
        if (lines[i].find(':') != std::string_view::npos) return false;
    }
    return true;
}

// The lines of text after unfolding: a line that starts with a blank or tab
// continues the one before (without that character); a quoted-printable line
// ending in '=' continues on the next line; a 2.1 base64 value takes the
// following lines of base64 data that are no property.
std::vector<std::string> contentLines(std::string_view text) {
    const std::vector<std::string_view> physical = physicalLines(text);
    std::vector<std::string> lines;
    std::string current;
    bool headKnown = false;  // the encoding of `current` has been looked at
    size_t searched = 0;     // `current` holds no ':' before this
    LineEncoding encoding;
    for (size_t i = 0; i < physical.size(); ++i) {
        const std::string_view line = physical[i];
        if (i > 0) {
            if (!headKnown) {
                if (current.find(':', searched) != std::string::npos) {
                    encoding = encodingOf(current);
                    headKnown = true;
                }
                searched = current.size();
            }
            if (encoding.quotedPrintable && !current.empty() && current.back() == '=' &&
                !isEndLine(line)) {
                current.pop_back();
                current.append(line);
                continue;
            }
            if (!line.empty() && isBlank(line[0])) {
                current.append(line.substr(1));
                continue;
            }
            if (encoding.base64 && isBase64Data(line) && holdsNoColon(physical, i)) {
                current.append(line);
                continue;
            }
            lines.push_back(std::move(current));
        }
        current.assign(line);
        headKnown = false;
        searched = 0;
        encoding = {};
    }
    if (!physical.empty()) lines.push_back(std::move(current));
    return lines;
}

bool isTextOf21(const std::string& name) {
    for (const char* other :
         {"URL", "PHOTO", "LOGO", "SOUND", "KEY", "BDAY", "REV", "GEO", "TZ", "UID", "AGENT"}) {
        if (name == other) return false;
    }
    return true;
}

// 2.1 text to the escaped form of 3.0: commas and lone backslashes are
// escaped; a semicolon is escaped where it cannot separate components.
std::string escape21(const std::string& value, const std::string& name) {
    if (!isTextOf21(name)) return value;
    const bool listOfValues = name == "CATEGORIES" || name == "NICKNAME";
    bool single = false;
    for (const char* text : {"FN", "NOTE", "TITLE", "ROLE", "LABEL", "EMAIL", "TEL", "MAILER"}) {
        single = single || name == text;
    }
    std::string out;
    out.reserve(value.size() + value.size() / 8);
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            out += "\\;";
            ++i;
        } else if (c == '\\' || (c == ',' && !listOfValues) || (c == ';' && single)) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

// The properties a contact is made of: their values are text even when a
// writer put them in base64.
bool isContactText(const std::string& name) {
    for (const char* text : {"N", "FN", "ADR", "LABEL", "URL", "BDAY", "NOTE", "TEL", "EMAIL"}) {
        if (name == text) return true;
    }
    return false;
}

void eraseParams(VCardProperty& p, std::string_view name) {
    std::erase_if(p.params, [&](const VCardParam& q) { return q.name == name; });
}

// A value whose writer named no character set: UTF-8 when it is well-formed
// UTF-8, else in the code page the card names on another property
// (`cardCharset`, when iconv knows it), else judged as judgedUtf8 does.
std::string undeclaredToUtf8(const std::string& bytes, const std::string& cardCharset) {
    std::string judged = judgedUtf8(bytes);
    if (cardCharset.empty() || judged == bytes) return judged;
    bool unknown = false;
    std::string text = charsetToUtf8(bytes, cardCharset, &unknown);
    return unknown ? judged : text;
}

VCardProperty decodeProperty(RawProperty raw, VCardVersion version,
                             const std::string& cardCharset) {
    VCardProperty p = std::move(raw.property);
    const std::string encoding = upperAscii(paramValue(p, "ENCODING"));
    const std::string charset = paramValue(p, "CHARSET");
    const bool base64 = encoding == "B" || encoding == "BASE64";
    if (base64 && !isContactText(p.name)) {
        std::string data;
        for (char c : raw.value) {
            if (!isBlank(c)) data += c;
        }
        p.value = lenientUtf8(data);
        return p;
    }
    eraseParams(p, "ENCODING");
    bool unknown = false;
    const std::string bytes = encoding == "QUOTED-PRINTABLE" ? decodeQuotedPrintable(raw.value)
                              : base64                       ? decodeBase64(raw.value)
                                                             : std::string(raw.value);
    p.value = charset.empty() ? undeclaredToUtf8(bytes, cardCharset)
                              : charsetToUtf8(bytes, charset, &unknown);
    if (!unknown) eraseParams(p, "CHARSET");
    if (version == VCardVersion::V21) p.value = escape21(p.value, p.name);
    return p;
}

VCardVersion versionOf(std::string_view value) {
    value = trimBlanks(value);
    if (value == "2.1") return VCardVersion::V21;
    if (value == "4.0") return VCardVersion::V40;
    return VCardVersion::V30;
}

// A card while its lines are read: the version may come after properties.
struct OpenCard {
    bool versionSeen = false;
    VCardVersion version = VCardVersion::V30;
    std::vector<RawProperty> properties;
    bool agentPending = false;  // the last property was an empty AGENT
};

// The code page a card names on one of its properties (the first CHARSET
// other than UTF-8), in which the writer may have written the values where
// it named none; empty when it names none.
std::string cardCharsetOf(const std::vector<RawProperty>& properties) {
    for (const RawProperty& raw : properties) {
        const std::string charset = paramValue(raw.property, "CHARSET");
        const std::string name = upperAscii(trimBlanks(charset));
        if (!name.empty() && name != "UTF-8" && name != "UTF8") return charset;
    }
    return {};
}

VCard closeCard(OpenCard& open, bool cutShort) {
    VCard card;
    card.version = open.version;
    card.cutShort = cutShort;
    card.properties.reserve(open.properties.size());
    const std::string cardCharset = cardCharsetOf(open.properties);
    for (RawProperty& raw : open.properties) {
        card.properties.push_back(decodeProperty(std::move(raw), open.version, cardCharset));
    }
    open = {};
    return card;
}

// Line breaks that quoted-printable carried into a value, as "\n".
std::string escapeLineBreaks(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
            out += "\\n";
        } else {
            out += value[i];
        }
    }
    return out;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// The media type of a base64 value for a data: URI, from its TYPE parameter
// ("JPEG" of a PHOTO is image/jpeg).
std::string mediaType(const VCardProperty& p) {
    std::string type = paramValue(p, "TYPE");
    type = lowerAscii(type.substr(0, type.find(',')));
    if (type.empty()) return "application/octet-stream";
    if (type.find('/') != std::string::npos) return type;
    if (p.name == "PHOTO" || p.name == "LOGO") return "image/" + type;
    if (p.name == "SOUND") return "audio/" + type;
    return "application/" + type;
}

// Appends line folded at kFoldOctets octets per physical line (the leading
// blank of a continuation counts), never inside a UTF-8 sequence.
void appendFolded(std::string& out, std::string_view line) {
    size_t limit = kFoldOctets;
    while (line.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
        if (cut == 0) cut = limit;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        limit = kFoldOctets - 1;
    }
    out.append(line);
    out += "\r\n";
}

}  // namespace

std::string paramValue(const VCardProperty& property, std::string_view name) {
    for (const VCardParam& p : property.params) {
        if (p.name == name) return unquote(p.value);
    }
    return {};
}

bool isBase64(const VCardProperty& property) {
    const std::string encoding = upperAscii(paramValue(property, "ENCODING"));
    return encoding == "B" || encoding == "BASE64";
}

std::vector<VCard> parseVCards(std::string_view text) {
    std::string wide;
    if (std::optional<std::string> utf8 = wideFileToUtf8(text)) {
        wide = std::move(*utf8);
        text = wide;
    }
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    // The open card's raw values point into these lines until it is closed.
    const std::vector<std::string> lines = contentLines(text);
    enum class Kind : char { Skip, Begin, End, Other };
    std::vector<Kind> kinds(lines.size(), Kind::Skip);
    std::vector<RawProperty> raws(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!splitLine(lines[i], raws[i])) continue;
        const std::string& name = raws[i].property.name;
        kinds[i] = name == "BEGIN" && equalsUpper(raws[i].value, "VCARD") ? Kind::Begin
                   : name == "END" && equalsUpper(raws[i].value, "VCARD") ? Kind::End
                                                                          : Kind::Other;
    }
    // Whether the END at line i closes a card nested in another: another END
    // comes before the next BEGIN. Found from the back, in one pass.
    std::vector<bool> endBeforeBegin(lines.size() + 1, false);
    for (size_t i = lines.size(); i-- > 0;) {
        endBeforeBegin[i] = kinds[i] == Kind::End     ? true
                            : kinds[i] == Kind::Begin ? false
                                                      : endBeforeBegin[i + 1];
    }

    std::vector<VCard> cards;
    std::vector<OpenCard> parents;  // cards a BEGIN interrupted, outermost first
    OpenCard open;
    bool inCard = false;
    int nested = 0;
    const auto closeAll = [&] {
        for (OpenCard& parent : parents) cards.push_back(closeCard(parent, true));
        parents.clear();
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (kinds[i] == Kind::Skip) continue;
        RawProperty& raw = raws[i];
        const bool begin = kinds[i] == Kind::Begin;
        const bool end = kinds[i] == Kind::End;
        if (!inCard) {
            inCard = begin;
            continue;
        }
        if (nested > 0) {
            nested += begin ? 1 : end ? -1 : 0;
            continue;
        }
        const std::string& name = raw.property.name;
        if (begin && open.agentPending) {
            nested = 1;
        } else if (begin) {
            parents.push_back(std::move(open));
            open = {};
        } else if (end && !parents.empty() && endBeforeBegin[i + 1]) {
            open = std::move(parents.back());  // the nested card is dropped
            parents.pop_back();
        } else if (end) {
            closeAll();
            cards.push_back(closeCard(open, false));
            inCard = false;
        } else if (name == "VERSION") {
            if (!open.versionSeen) open.version = versionOf(raw.value);
            open.versionSeen = true;
        } else if (name != "BEGIN" && name != "END") {
            open.agentPending = name == "AGENT" && trimBlanks(raw.value).empty();
            open.properties.push_back(std::move(raw));
            continue;
        }
        open.agentPending = false;
    }
    if (inCard) {
        closeAll();
        cards.push_back(closeCard(open, true));
    }
    return cards;
}

std::string writeVCard(const VCard& card, VCardVersion version) {
    const bool v4 = version == VCardVersion::V40;
    std::string out = v4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\n" : "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    std::string line;
    for (const VCardProperty& p : card.properties) {
        // A name that reads as BEGIN or END once the byte-order marks a line
        // may start with are left out would open or close a card.
        std::string_view bare = p.name;
        while (bare.starts_with(kByteOrderMark)) bare.remove_prefix(kByteOrderMark.size());
        if (bare.empty() || bare == "BEGIN" || bare == "END" || p.name == "VERSION") continue;
        const bool base64 = isBase64(p);
        std::vector<VCardParam> params;
        bool encodingWritten = false;
        for (const VCardParam& q : p.params) {
            if (q.name == "ENCODING" && base64 && !v4 && !encodingWritten) {
                params.push_back({"ENCODING", "b"});
                encodingWritten = true;
            }
            if (q.name == "CHARSET" || q.name == "ENCODING") continue;
            if (base64 && v4 && q.name == "TYPE") continue;
            params.push_back(q);
        }
        const std::string value = base64 && v4 ? "data:" + mediaType(p) + ";base64," + p.value
                                               : escapeLineBreaks(p.value);
        line.clear();
        if (!p.group.empty()) line += p.group + '.';
        line += spelledName(p.name, p.spelled);
        for (const VCardParam& q : params) {
            line += ';';
            line += spelledName(q.name, q.spelled);
            line += '=';
            line += q.value;
        }
        line += ':';
        line += value;
        appendFolded(out, line);
    }
    out += "END:VCARD\r\n";
    return out;
}

}  // namespace contavio
