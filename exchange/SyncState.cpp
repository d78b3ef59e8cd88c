#include "exchange/SyncState.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include "exchange/VCardText.h"

namespace contavio {

namespace {

constexpr char kHeader[] = "contavio-sync 2";
constexpr char kLegacyHeader[] = "contavio-sync 1";
constexpr char kPlace[] = "lugar ";
constexpr char kCursor[] = "marca ";
constexpr char kGuard[] = "guarda ";
constexpr char kBook[] = "libro ";
constexpr char kGroup[] = "grupo ";

uint64_t fnv(std::string_view bytes, uint64_t h = 0xcbf29ce484222325ULL) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

void escapeInto(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7f || c == '%' || c == ',') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
}

std::optional<std::string> unescape(std::string_view text) {
    if (text.find('%') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = hexValue(text[i + 1]), lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::vector<std::string_view> split(std::string_view line, char separator) {
    std::vector<std::string_view> parts;
    for (size_t at = 0;;) {
        const size_t end = line.find(separator, at);
        parts.push_back(line.substr(at, end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

std::optional<std::vector<std::string>> unescapeList(std::string_view field) {
    std::vector<std::string> items;
    if (field.empty()) return items;
    if (field[0] != ',') return std::nullopt;
    for (std::string_view part : split(field.substr(1), ',')) {
        auto item = unescape(part);
        if (!item) return std::nullopt;
        items.push_back(std::move(*item));
    }
    return items;
}

// Lines of a state text after its header; none when cut short.
std::optional<std::vector<std::string_view>> bodyLines(std::string_view text,
                                                       std::string_view header) {
    if (text.substr(0, header.size() + 1) != std::string(header) + "\n") return std::nullopt;
    text.remove_prefix(header.size() + 1);
    if (!text.empty() && text.back() != '\n') return std::nullopt;  // written whole or not at all
    std::vector<std::string_view> lines;
    if (text.empty()) return lines;
    lines = split(text.substr(0, text.size() - 1), '\n');
    return lines;
}

std::optional<SyncEntry> parseEntry(std::string_view line) {
    const std::vector<std::string_view> parts = split(line, ' ');
    if (parts.size() != 5 && parts.size() != 14) return std::nullopt;
    SyncEntry e;
    auto name = unescape(parts[0]);
    auto version = unescape(parts[1]);
    auto key = unescape(parts[2]);
    if (!name || !version || !key || name->empty()) return std::nullopt;
    e.name = std::move(*name);
    e.version = std::move(*version);
    e.key = std::move(*key);
    size_t next = 4;
    if (parts[3] == "c" && parts.size() == 14) {
        ContactData c;
        std::string* fields[] = {&c.firstNames, &c.surnames, &c.address, &c.web,
                                 &c.day,        &c.month,    &c.notes};
        for (std::string* field : fields) {
            auto value = unescape(parts[next++]);
            if (!value) return std::nullopt;
            *field = std::move(*value);
        }
        auto phones = unescapeList(parts[next++]);
        auto emails = unescapeList(parts[next++]);
        if (!phones || !emails) return std::nullopt;
        c.phones = std::move(*phones);
        c.emails = std::move(*emails);
        e.contact = std::move(c);
    } else if (parts[3] != "-" || parts.size() != 5) {
        return std::nullopt;
    }
    if (parts[next] != "-") {
        auto card = unescape(parts[next]);
        if (!card) return std::nullopt;
        e.card = std::move(*card);
    }
    return e;
}

}  // namespace

std::string stateText(SyncState state) {
    std::sort(state.entries.begin(), state.entries.end(),
              [](const SyncEntry& a, const SyncEntry& b) { return a.name < b.name; });
    std::string out = std::string(kHeader) + "\n" + kPlace;
    escapeInto(out, state.place);
    out += '\n';
    if (!state.book.empty() && state.book != "data.vlt") {
        out += kBook;
        escapeInto(out, state.book);
        out += '\n';
    }
    if (!state.cursor.empty()) {
        out += kCursor;
        escapeInto(out, state.cursor);
        out += '\n';
    }
    if (state.guard != GuardCounts{}) {
        const GuardCounts& g = state.guard;
        out += kGuard + std::to_string(g.bookPeak) + ',' + std::to_string(g.bookGone) + ' ' +
               std::to_string(g.storePeak) + ',' + std::to_string(g.storeGone) + '\n';
    }
    std::sort(state.groups.begin(), state.groups.end());
    for (const std::string& group : state.groups) {
        out += kGroup;
        escapeInto(out, group);
        out += '\n';
    }
    for (const SyncEntry& e : state.entries) {
        escapeInto(out, e.name);
        out += ' ';
        escapeInto(out, e.version);
        out += ' ';
        escapeInto(out, e.key);
        if (const auto& c = e.contact) {
            out += " c";
            for (const std::string* field : {&c->firstNames, &c->surnames, &c->address, &c->web,
                                             &c->day, &c->month, &c->notes}) {
                out += ' ';
                escapeInto(out, *field);
            }
            for (const auto* list : {&c->phones, &c->emails}) {
                out += ' ';
                for (const std::string& item : *list) {
                    out += ',';
                    escapeInto(out, item);
                }
            }
        } else {
            out += " -";
        }
        out += ' ';
        if (e.card) {
            escapeInto(out, *e.card);
        } else {
            out += '-';
        }
        out += '\n';
    }
    return out;
}

std::optional<SyncState> parseState(std::string_view text) {
    const auto lines = bodyLines(text, kHeader);
    if (!lines || lines->empty() || lines->front().substr(0, 6) != kPlace) return std::nullopt;
    SyncState state;
    auto place = unescape(lines->front().substr(6));
    if (!place) return std::nullopt;
    state.place = std::move(*place);
    size_t first = 1;
    // An entry has five fields or fourteen: a line of two or three is one
    // of the header's.
    const auto header = [&](std::string_view keyword, size_t fields) {
        const bool is = first < lines->size() && (*lines)[first].starts_with(keyword) &&
                        split((*lines)[first], ' ').size() == fields;
        return is ? std::optional((*lines)[first++].substr(keyword.size())) : std::nullopt;
    };
    if (auto book = header(kBook, 2)) {
        auto text = unescape(*book);
        if (!text) return std::nullopt;
        state.book = std::move(*text);
    }
    if (auto cursor = header(kCursor, 2)) {
        auto text = unescape(*cursor);
        if (!text) return std::nullopt;
        state.cursor = std::move(*text);
    }
    if (auto guard = header(kGuard, 3)) {
        GuardCounts& g = state.guard;
        if (std::sscanf(std::string(*guard).c_str(), "%zu,%zu %zu,%zu", &g.bookPeak, &g.bookGone,
                        &g.storePeak, &g.storeGone) != 4)
            return std::nullopt;
    }
    while (auto group = header(kGroup, 2)) {
        auto name = unescape(*group);
        if (!name) return std::nullopt;
        state.groups.push_back(std::move(*name));
    }
    for (size_t i = first; i < lines->size(); ++i) {
        auto entry = parseEntry((*lines)[i]);
        if (!entry) return std::nullopt;
        state.entries.push_back(std::move(*entry));
    }
    return state;
}

std::optional<std::vector<LegacyEntry>> parseLegacyState(std::string_view text) {
    const auto lines = bodyLines(text, kLegacyHeader);
    if (!lines) return std::nullopt;
    std::vector<LegacyEntry> entries;
    for (std::string_view line : *lines) {
        const auto parts = split(line, ' ');
        if (parts.size() != 4 || parts[1].size() != 16 || parts[3].size() != 16) {
            return std::nullopt;
        }
        auto file = unescape(parts[0]);
        auto key = unescape(parts[2]);
        char* end = nullptr;
        const std::string cardHash(parts[1]), contactHash(parts[3]);
        LegacyEntry e;
        e.cardHash = std::strtoull(cardHash.c_str(), &end, 16);
        if (*end != '\0') return std::nullopt;
        e.contactHash = std::strtoull(contactHash.c_str(), &end, 16);
        if (*end != '\0' || !file || !key || file->empty()) return std::nullopt;
        e.file = std::move(*file);
        e.key = std::move(*key);
        entries.push_back(std::move(e));
    }
    return entries;
}

uint64_t legacyCardHash(std::string_view bytes) { return fnv(bytes); }

uint64_t legacyContactHash(const ContactData& c) {
    std::string all;
    for (const std::string* field :
         {&c.firstNames, &c.surnames, &c.address, &c.web, &c.day, &c.month, &c.notes}) {
        all += *field;
        all += '\x1f';
    }
    for (const auto* unsorted : {&c.phones, &c.emails}) {
        std::vector<std::string> list = *unsorted;
        std::sort(list.begin(), list.end());
        for (const std::string& item : list) {
            all += item;
            all += '\x1e';
        }
        all += '\x1f';
    }
    return fnv(all);
}

std::string withoutBinaries(std::string_view card) {
    constexpr size_t kLarge = 256;
    constexpr std::string_view kHashed = "contavio-hash-";
    std::string out;
    out.reserve(std::min(card.size(), size_t{1} << 16));
    size_t at = 0;
    while (at < card.size()) {
        // One property: its first line and the folded lines that go on with it.
        size_t end = card.find('\n', at);
        while (end != std::string_view::npos && end + 1 < card.size() &&
               (card[end + 1] == ' ' || card[end + 1] == '\t')) {
            end = card.find('\n', end + 1);
        }
        end = end == std::string_view::npos ? card.size() : end + 1;
        const std::string_view line = card.substr(at, end - at);
        at = end;
        const size_t colon = line.find(':');
        if (line.size() < kLarge || colon == std::string_view::npos) {
            out += line;
            continue;
        }
        const std::string head = upperAscii(line.substr(0, colon));
        const std::string_view value = line.substr(colon + 1);
        const bool binary = head.find("ENCODING=B") != std::string::npos ||
                            upperAscii(value.substr(0, 5)) == "DATA:";
        if (!binary) {
            out += line;
            continue;
        }
        std::string unfolded;
        for (char c : value) {
            if (c != '\r' && c != '\n' && c != ' ' && c != '\t') unfolded += c;
        }
        char hash[17];
        std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv(unfolded)));
        out += line.substr(0, colon + 1);
        out += kHashed;
        out += hash;
        out += line.ends_with("\r\n") ? "\r\n" : line.ends_with('\n') ? "\n" : "";
    }
    return out;
}

std::vector<std::string> statesBeside(const std::string& bookFolder, const std::string& prefix,
                                      const std::string& except) {
    std::vector<std::string> found;
    const std::string dir = bookFolder.empty() ? std::string(".") : bookFolder;
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) return found;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        const std::string path = dir + "/" + name;
        if (name.size() == prefix.size() + 16 && name.starts_with(prefix) && path != except &&
            name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos) {
            found.push_back(path);
        }
    }
    ::closedir(folder);
    std::sort(found.begin(), found.end());
    return found;
}

SyncPlaces syncPlaces(const std::string& bookFolder, const std::string& vdir,
                      const std::string& bookName) {
    char resolved[PATH_MAX];
    const std::string place = ::realpath(vdir.c_str(), resolved) ? resolved : vdir;
    char hash[17];
    const uint64_t h = bookName == "data.vlt" ? fnv(place) : fnv(place + "\n" + bookName);
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(h));
    const std::string dir = bookFolder.empty() ? std::string(".") : bookFolder;
    return {dir + "/.contavio-sync-" + hash, dir + "/contavio-sync-kept", vdir + "/.contavio-sync",
            place};
}

}  // namespace contavio
