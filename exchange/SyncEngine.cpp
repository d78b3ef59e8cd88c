#include "exchange/SyncEngine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "exchange/CardContact.h"
#include "exchange/FolderStore.h"
#include "exchange/SyncPass.h"

namespace contavio {

namespace {

constexpr char kDamagedState[] =
    "estado de la sincronizaci\xF3n ilegible: se emparejan tarjetas y contactos por nombre";
constexpr char kSkipped[] = "no es un archivo normal: no se sincroniza";

// The whole file, or none when it does not exist.
std::optional<std::string> readText(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        failOn("abrir", path);
    }
    return readToEnd(fd, path);
}

// The path of an http(s) address after its host and port, or none.
std::optional<std::string> pathOnServer(const std::string& place) {
    const size_t scheme = place.find("://");
    if (scheme == std::string::npos || !place.starts_with("http")) return std::nullopt;
    const size_t path = place.find('/', scheme + 3);
    std::string rest = path == std::string::npos ? "/" : place.substr(path);
    if (rest.size() > 1 && rest.back() == '/') rest.pop_back();
    return rest;
}

std::pair<std::string, std::string> splitPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The pairs of a first-version state. Its keys were those of the contacts
// as normalised, and it kept hashes only: a side whose hash still holds
// gets its present version as the last synced one, the other none.
std::vector<SyncEntry> migrate(const std::vector<LegacyEntry>& legacy, const BookContacts& book,
                               const std::map<std::string, PassCard>& cards) {
    std::map<std::string, std::string> byNormalKey;
    for (const auto& [key, c] : book) {
        byNormalKey.emplace(contactKeyOf(normalizedContact(c, nullptr)), key);
    }
    std::vector<SyncEntry> entries;
    for (const LegacyEntry& l : legacy) {
        SyncEntry e;
        e.name = l.file;
        e.key = l.key;
        if (!book.count(l.key) && byNormalKey.count(l.key)) e.key = byNormalKey.at(l.key);
        if (auto c = book.find(e.key);
            c != book.end() &&
            legacyContactHash(normalizedContact(c->second, nullptr)) == l.contactHash) {
            e.contact = c->second;
        }
        if (auto c = cards.find(l.file);
            c != cards.end() && legacyCardHash(c->second.bytes) == l.cardHash) {
            e.card = c->second.bytes;
            e.version = c->second.version.value_or("");
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

}  // namespace

SyncEngine::SyncEngine(CardStore& store, SyncOptions options)
    : store_(store), options_(std::move(options)) {}

BookChanges SyncEngine::run(const BookContacts& book, SyncReport& report) {
    // A card changed on the store between its reading and its write
    // (StoreChanged): everything is read again and merged anew. What the
    // first attempt wrote reads the same on both sides, so it pairs as in
    // step.
    for (int attempt = 1;; ++attempt) {
        report = SyncReport{};
        try {
            return attemptRun(book, report);
        } catch (const StoreChanged&) {
            if (attempt >= kStoreChangedRetries) throw;
        }
    }
}

BookChanges SyncEngine::attemptRun(const BookContacts& book, SyncReport& report) {
    pending_ = false;
    migrated_ = false;
    adopted_.clear();
    std::vector<SyncEntry> entries;
    std::string cursor, parsedPlace;
    SyncState last;
    // The file as it is, which commit() replaces when the next state differs;
    // the last state is the one a run still to be committed left, if any.
    const std::optional<std::string> onDisk = readText(options_.statePath);
    oldState_ = onDisk.value_or("");
    const bool pendingHere =
        options_.pendingState && options_.pendingStatePath == options_.statePath;
    const std::optional<std::string> text = pendingHere ? options_.pendingState : onDisk;
    const std::string lastText = text.value_or("");
    if (text) {
        if (std::optional<SyncState> state = parseState(*text)) {
            parsedPlace = std::move(state->place);
            entries = std::move(state->entries);
            cursor = std::move(state->cursor);
            last.guard = state->guard;
            last.groups = std::move(state->groups);
        } else {
            report.notes.push_back(kDamagedState);
        }
    }
    // The pairs of another store say nothing of this one.
    std::string lastPlace = text ? parsedPlace : options_.formerPlace;
    if (!lastPlace.empty() && lastPlace != options_.place) {
        entries.clear();
        cursor.clear();
    }
    std::map<std::string, std::string> known;
    for (const SyncEntry& e : entries) known.emplace(e.name, e.version);
    store_.resume(cursor, known);

    const StoreListing listing = store_.list();
    for (const std::string& name : listing.skipped) report.notes.push_back(name + ": " + kSkipped);
    // No state for this place: a state of this book for another place
    // whose cards these are (a folder moved or renamed, an address book
    // reached by another address) goes on here.
    if (!text) {
        if (std::optional<SyncState> found = adoptable(listing)) {
            report.notes.push_back("se sigue con el estado de la sincronizaci\xF3n con \xAB" +
                                   found->place + "\xBB: las tarjetas son las mismas");
            entries = std::move(found->entries);
            last.guard = found->guard;
            last.groups = std::move(found->groups);
            lastPlace.clear();
        }
    }
    const bool moved = !lastPlace.empty() && lastPlace != options_.place;
    if (moved) report.otherPlace = lastPlace;
    // A card whose version is the one last synced is the card the state
    // holds: only the others are read.
    std::map<std::string, const SyncEntry*> byName;
    for (const SyncEntry& e : entries) byName.emplace(e.name, &e);
    std::map<std::string, PassCard> cards;
    std::vector<std::string> toRead;
    for (const auto& [name, version] : listing.items) {
        const auto last = byName.find(name);
        if (last != byName.end() && !version.empty() && last->second->version == version &&
            last->second->card) {
            cards[name] = {*last->second->card, version, true};
        } else {
            toRead.push_back(name);
        }
    }
    std::map<std::string, std::string> read = store_.readMany(toRead);
    for (const std::string& name : toRead) {
        auto bytes = read.find(name);
        if (bytes == read.end()) throw StoreChanged(name);
        cards[name] = {std::move(bytes->second), listing.items.at(name)};
    }

    if (!text && !options_.legacyStatePath.empty()) {
        if (std::optional<std::string> old = readText(options_.legacyStatePath)) {
            if (auto legacy = parseLegacyState(*old)) {
                entries = migrate(*legacy, book, cards);
                migrated_ = true;
            } else {
                report.notes.push_back(kDamagedState);
            }
        }
    }

    SyncPass pass(store_, options_, book, report);
    pass.plan(std::move(cards), listing.skipped, std::move(entries), last);
    const bool otherStore = !report.otherPlace.empty() && !options_.forceDelete;
    const bool refused = pass.refused() || otherStore;
    report.refused = refused;
    if (!otherStore) report.otherPlace.clear();
    pass.describe();
    if (refused || options_.dryRun) return {};
    BookChanges changes = pass.apply();
    const std::string nextCursor = store_.cursor();
    nextState_ = pass.stateChanged() || migrated_ || moved || !adopted_.empty() ||
                         nextCursor != cursor || options_.forceDelete
                     ? stateText({options_.place, options_.bookName, nextCursor, pass.guard(),
                                  pass.groups(), pass.entries()})
                     : lastText;
    pending_ = true;
    return changes;
}

std::optional<SyncState> SyncEngine::adoptable(const StoreListing& listing) {
    for (const std::string& path : options_.otherStates) {
        const std::optional<std::string> text = readText(path);
        std::optional<SyncState> state = text ? parseState(*text) : std::nullopt;
        if (!state || state->entries.empty()) continue;
        const std::string book = state->book.empty() ? "data.vlt" : state->book;
        if (book != options_.bookName) continue;  // another book's
        // The same cards: the same names and versions; for an address book
        // at the same path on another address of its server, the same names
        // (a version a server has not told yet is known by content only).
        const bool samePath = pathOnServer(state->place) && pathOnServer(options_.place) &&
                              *pathOnServer(state->place) == *pathOnServer(options_.place);
        size_t same = 0;
        for (const SyncEntry& e : state->entries) {
            const auto it = listing.items.find(e.name);
            same += it != listing.items.end() &&
                    (samePath || (!e.version.empty() && it->second == e.version));
        }
        if (same * 2 <= state->entries.size()) continue;
        adopted_ = path;
        adoptedPlace_ = state->place;
        return state;
    }
    return std::nullopt;
}

void SyncEngine::commit() {
    if (!pending_) return;
    pending_ = false;
    const auto [folder, name] = splitPath(options_.statePath);
    if (nextState_ != oldState_) {
        writeFileIn(folder, name, nextState_);
        syncFolder(folder);
    }
    // The state carried on here no longer stands for a folder that is gone
    // (that of an address book stays: another spelling of the account may
    // use it).
    if (!adopted_.empty() && adoptedPlace_.starts_with('/') &&
        ::access(adoptedPlace_.c_str(), F_OK) != 0 && ::unlink(adopted_.c_str()) != 0 &&
        errno != ENOENT) {
        failOn("borrar", adopted_);
    }
    // The first version's state has moved beside the book.
    if (migrated_ && ::unlink(options_.legacyStatePath.c_str()) != 0 && errno != ENOENT) {
        failOn("borrar", options_.legacyStatePath);
    }
}

}  // namespace contavio
