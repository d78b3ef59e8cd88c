#include "exchange/VdirSync.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "exchange/CardContact.h"
#include "exchange/ContactMerge.h"
#include "exchange/VCard.h"
#include "exchange/VCardText.h"

namespace contavio {

namespace {

constexpr char kStateHeader[] = "contavio-sync 1";
constexpr char kTempPrefix[] = ".contavio-tmp-";
constexpr char kCardExtension[] = ".vcf";
constexpr VCardVersion kNewCardVersion = VCardVersion::V30;

// Spanish texts of the report, Windows-1252.
constexpr char kMarkText[] = "conflicto";
constexpr char kConflictBoth[] =
    "cambi\xF3 en la libreta y en la carpeta: se mantiene la libreta y se a\xF1"
    "aden los datos "
    "de la tarjeta";
constexpr char kConflictCardGone[] =
    "se borr\xF3 en la carpeta pero cambi\xF3 en la libreta: se conserva con una tarjeta nueva";
constexpr char kConflictContactGone[] =
    "se borr\xF3 en la libreta pero cambi\xF3 en la carpeta: vuelve a la libreta";
constexpr char kConflictMarked[] = "ya existe otro contacto con ese nombre: se guarda como \xAB";
constexpr char kUnreadableCard[] = "no contiene ninguna tarjeta: no se sincroniza";
constexpr char kDamagedState[] =
    "estado de la sincronizaci\xF3n ilegible: se emparejan tarjetas y contactos por nombre";

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error("No se pudo " + what + " \xAB" + path +
                             "\xBB: " + std::strerror(errno));
}

// FNV-1a, 64 bits: tells a changed file or contact from the one of the last
// sync; not meant to resist anyone forging a collision.
uint64_t hashBytes(std::string_view bytes, uint64_t h = 0xcbf29ce484222325ULL) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

uint64_t contactHash(const ContactData& c) {
    // Separators below 0x20 cannot occur in a normalised contact.
    std::string all;
    for (const std::string* field :
         {&c.firstNames, &c.surnames, &c.address, &c.web, &c.day, &c.month, &c.notes}) {
        all += *field;
        all += '\x1f';
    }
    // Order is no content: every save and read of the book turns its lists
    // round, and a window session is one of each.
    for (const auto* unsorted : {&c.phones, &c.emails}) {
        std::vector<std::string> list = *unsorted;
        std::sort(list.begin(), list.end());
        for (const std::string& item : list) {
            all += item;
            all += '\x1e';
        }
        all += '\x1f';
    }
    return hashBytes(all);
}

std::string hex64(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

// State fields are kept ASCII without blanks: other bytes are written %XX.
std::string escapeField(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7f || c == '%') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::optional<std::string> unescapeField(std::string_view text) {
    std::string out;
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

std::optional<uint64_t> parseHex64(std::string_view text) {
    if (text.size() != 16) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        const int d = hexValue(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    return v;
}

struct StateEntry {
    std::string file;
    uint64_t cardHash = 0;
    std::string key;
    uint64_t contactHash = 0;
};

std::string stateLine(const StateEntry& e) {
    return escapeField(e.file) + ' ' + hex64(e.cardHash) + ' ' + escapeField(e.key) + ' ' +
           hex64(e.contactHash) + '\n';
}

std::optional<std::vector<StateEntry>> parseState(std::string_view text) {
    std::vector<StateEntry> entries;
    size_t pos = text.find('\n');
    if (pos == std::string_view::npos || text.substr(0, pos) != kStateHeader) return std::nullopt;
    ++pos;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) return std::nullopt;  // written whole or not at all
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::string_view> parts;
        for (size_t at = 0;;) {
            const size_t blank = line.find(' ', at);
            parts.push_back(line.substr(at, blank - at));
            if (blank == std::string_view::npos) break;
            at = blank + 1;
        }
        if (parts.size() != 4) return std::nullopt;
        auto file = unescapeField(parts[0]);
        auto cardHash = parseHex64(parts[1]);
        auto key = unescapeField(parts[2]);
        auto contact = parseHex64(parts[3]);
        if (!file || !cardHash || !key || !contact || file->empty()) return std::nullopt;
        entries.push_back({std::move(*file), *cardHash, std::move(*key), *contact});
    }
    return entries;
}

// The whole file, or nullopt when it does not exist.
std::optional<std::string> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        fail("abrir", path);
    }
    std::string bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char block[16384];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            ::close(fd);
            errno = saved;
            fail("leer", path);
        }
        if (n == 0) break;
        bytes.append(block, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void writeAtomically(const std::string& folder, const std::string& name, std::string_view bytes) {
    std::string temp = folder + "/" + kTempPrefix + "XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) fail("crear un archivo temporal en", folder);
    auto failHere = [&](const char* what) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        errno = saved;
        fail(what, folder + "/" + name);
    };
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            failHere("escribir");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) failHere("guardar");
    if (::close(fd) != 0) {
        ::unlink(temp.c_str());
        fail("guardar", folder + "/" + name);
    }
    const std::string target = folder + "/" + name;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        fail("reemplazar", target);
    }
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) fail("abrir la carpeta", folder);
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        fail("guardar la carpeta", folder);
    }
    ::close(fd);
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The card files of the folder (visible "*.vcf"); removes the temporaries of
// an earlier run that was killed.
std::vector<std::string> cardFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) fail("abrir la carpeta", folder);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kTempPrefix, 0) == 0) {
            ::unlink((folder + "/" + name).c_str());
        } else if (name[0] != '.' && endsWith(name, kCardExtension)) {
            names.push_back(name);
        }
        errno = 0;
    }
    const int saved = errno;
    ::closedir(dir);
    errno = saved;
    if (errno != 0) fail("leer la carpeta", folder);
    return names;
}

std::string displayName(const ContactData& c) {
    std::string name = c.firstNames;
    if (!name.empty() && !c.surnames.empty()) name += ' ';
    name += c.surnames;
    return "\xAB" + name + "\xBB";
}

ContactData normalized(const ContactData& c) { return normalizedContact(c, nullptr); }

struct FolderCard {
    std::string bytes;
    uint64_t hash = 0;
};

// One run of the sync over the book, the folder's cards and the last state.
class SyncPass {
  public:
    SyncPass(const std::string& folder, const std::map<std::string, ContactData>& book,
             SyncReport& report)
        : folder_(folder), book_(book), report_(report) {}

    BookChanges run() {
        std::optional<std::vector<StateEntry>> state;
        if (auto text = readFile(folder_ + "/" + kSyncStateName)) {
            state = parseState(*text);
            if (!state) report_.notes.push_back(kDamagedState);
        }
        for (std::string& name : cardFiles(folder_)) {
            FolderCard card;
            card.bytes = readFile(folder_ + "/" + name).value_or(std::string());
            card.hash = hashBytes(card.bytes);
            files_.emplace(std::move(name), std::move(card));
        }
        const std::vector<StateEntry> entries =
            state ? std::move(*state) : std::vector<StateEntry>();
        for (const StateEntry& e : entries) pending_.insert(e.key);
        for (const StateEntry& e : entries) {
            pending_.erase(pending_.find(e.key));
            syncPair(e);
        }
        for (const auto& [name, card] : files_) {
            if (seenFiles_.count(name)) continue;
            auto parsed = parseCard(name, card);
            if (!parsed) continue;
            ContactData incoming = contactFromCard(*parsed).contact;
            takeCard(name, *parsed, std::move(incoming), std::nullopt);
        }
        for (const auto& [key, contact] : book_) {
            if (owner_.count(key) || (overlay_.count(key) && !overlay_[key])) continue;
            newCard(key, normalized(contact));
        }
        writeFolder();
        return bookChanges();
    }

    std::string stateText() const { return kStateHeader + std::string("\n") + stateLines_; }

  private:
    // --- the book as this sync leaves it ---
    std::optional<ContactData> current(const std::string& key) const {
        if (auto it = overlay_.find(key); it != overlay_.end()) return it->second;
        if (auto it = book_.find(key); it != book_.end()) return normalized(it->second);
        return std::nullopt;
    }
    void put(const ContactData& c) { overlay_[contactKeyOf(c)] = c; }
    void remove(const std::string& key) { overlay_[key] = std::nullopt; }

    // Held by another card of the new state, or by a pair not handled yet.
    bool taken(const std::string& key, const std::string& file) const {
        if (auto it = owner_.find(key); it != owner_.end() && it->second != file) return true;
        return pending_.count(key) != 0;
    }

    // --- the folder as this sync leaves it ---
    const std::string& cardBytes(const std::string& file) const {
        if (auto it = writes_.find(file); it != writes_.end() && it->second) return *it->second;
        return files_.at(file).bytes;
    }
    void writeCard(const std::string& file, std::string bytes) { writes_[file] = std::move(bytes); }

    void pair(const std::string& file, const ContactData& contact) {
        const std::string key = contactKeyOf(contact);
        owner_[key] = file;
        stateLines_ += stateLine({file, hashBytes(cardBytes(file)), key, contactHash(contact)});
    }

    std::optional<VCard> parseCard(const std::string& file, const FolderCard& card) {
        seenFiles_.insert(file);
        std::vector<VCard> cards = parseVCards(card.bytes);
        if (cards.empty()) {
            report_.notes.push_back(file + ": " + kUnreadableCard);
            return std::nullopt;
        }
        return std::move(cards.front());
    }

    // Rewrites the card so that it reads as contact, keeping what else it holds.
    void applyOnto(const std::string& file, VCard card, const ContactData& contact) {
        applyContact(contact, card);
        const VCardVersion version =
            card.version == VCardVersion::V21 ? VCardVersion::V30 : card.version;
        std::string bytes = writeVCard(card, version);
        if (bytes != files_.at(file).bytes) writeCard(file, std::move(bytes));
    }

    void conflict(const ContactData& contact, const char* what,
                  const std::vector<std::string>& details = {}) {
        ++report_.conflicts;
        report_.notes.push_back(displayName(contact) + ": " + what);
        for (const std::string& d : details)
            report_.notes.push_back(displayName(contact) + ": " + d);
    }

    void syncPair(const StateEntry& e) {
        const auto file = files_.find(e.file);
        const bool haveCard = file != files_.end();
        const std::optional<ContactData> contact = current(e.key);
        if (haveCard) seenFiles_.insert(e.file);
        if (!haveCard && !contact) return;  // gone on both sides
        const bool cardChanged = haveCard && file->second.hash != e.cardHash;
        const bool contactChanged = contact && contactHash(*contact) != e.contactHash;
        if (haveCard && contact && !cardChanged && !contactChanged) {
            owner_[e.key] = e.file;
            stateLines_ += stateLine(e);
            return;
        }
        if (!haveCard) {
            if (!contactChanged) {
                remove(e.key);
            } else {
                conflict(*contact, kConflictCardGone);  // the new card comes with the new contacts
            }
            return;
        }
        if (!contact && !cardChanged) {
            writes_[e.file] = std::nullopt;
            return;
        }
        std::optional<VCard> card = parseCard(e.file, file->second);
        if (!card) {
            // Kept paired as it was, until the card reads again.
            if (contact) owner_[e.key] = e.file;
            stateLines_ += stateLine(e);
            return;
        }
        ContactData incoming = contactFromCard(*card).contact;
        if (contact && incoming == *contact) {
            pair(e.file, *contact);  // both sides agree, whatever the state says
        } else if (!contact) {
            // After a kill the book may already hold the card under its new name.
            const std::optional<ContactData> there = current(contactKeyOf(incoming));
            if (!there || *there != incoming) conflict(incoming, kConflictContactGone);
            takeCard(e.file, *card, std::move(incoming), std::nullopt);
        } else if (!cardChanged) {
            applyOnto(e.file, std::move(*card), *contact);
            pair(e.file, *contact);
        } else if (!contactChanged) {
            takeCard(e.file, *card, std::move(incoming), e.key);
        } else {
            mergeInto(e.file, std::move(*card), *contact, incoming);
        }
    }

    // Both changed: the book's values stay, the card's are added.
    void mergeInto(const std::string& file, VCard card, const ContactData& stored,
                   const ContactData& incoming) {
        MergeResult merged = mergeContact(stored, incoming, MergeRule::KeepStored);
        conflict(stored, kConflictBoth, merged.warnings);
        if (merged.changed) put(merged.contact);
        applyOnto(file, std::move(card), merged.contact);
        pair(file, merged.contact);
    }

    // A card that is new, or changed while its contact was not (oldKey), or
    // changed while its contact was deleted, comes into the book.
    void takeCard(const std::string& file, VCard card, ContactData incoming,
                  const std::optional<std::string>& oldKey) {
        const std::string key = contactKeyOf(incoming);
        if (oldKey && key != *oldKey) remove(*oldKey);
        if (taken(key, file)) {
            ContactData marked = markedContact(incoming, file);
            conflict(incoming, kConflictMarked, {});
            report_.notes.back() += displayName(marked).substr(1);
            put(marked);
            applyOnto(file, std::move(card), marked);
            pair(file, marked);
            return;
        }
        const std::optional<ContactData> stored = current(key);
        if (stored && *stored == incoming) {
            pair(file, incoming);
        } else if (stored && (!oldKey || key != *oldKey)) {
            mergeInto(file, std::move(card), *stored, incoming);  // an unpaired contact of that key
        } else {
            put(incoming);
            pair(file, incoming);
        }
    }

    ContactData markedContact(const ContactData& c, const std::string& file) const {
        for (int n = 1;; ++n) {
            ContactData marked = c;
            std::string mark = std::string("(") + kMarkText;
            if (n > 1) {
                mark += ' ';
                mark += std::to_string(n);
            }
            mark += ")";
            marked.surnames = c.surnames.empty() ? mark : c.surnames + " " + mark;
            const std::string key = contactKeyOf(marked);
            if (!current(key) && !taken(key, file)) return marked;
        }
    }

    void newCard(const std::string& key, const ContactData& contact) {
        std::string name;
        std::string uid;
        for (int n = 1;; ++n) {
            uid = contactUid(n == 1 ? key : key + "#" + std::to_string(n), kNewCardVersion);
            name = uid + kCardExtension;
            if (!files_.count(name) && !writes_.count(name)) break;
        }
        std::vector<std::string> warnings;
        VCard card = cardFromContact(contact, kNewCardVersion, warnings);
        for (VCardProperty& p : card.properties) {
            if (p.name == "UID") p.value = uid;
        }
        for (const std::string& w : warnings)
            report_.notes.push_back(displayName(contact) + ": " + w);
        writeCard(name, writeVCard(card, kNewCardVersion));
        pair(name, contact);
    }

    void writeFolder() {
        for (const auto& [name, bytes] : writes_) {
            const bool existed = files_.count(name) != 0;
            if (bytes) {
                writeAtomically(folder_, name, *bytes);
                ++(existed ? report_.folderChanged : report_.folderAdded);
            } else if (existed) {
                const std::string path = folder_ + "/" + name;
                if (::unlink(path.c_str()) != 0 && errno != ENOENT) fail("borrar", path);
                ++report_.folderRemoved;
            }
        }
        if (!writes_.empty()) syncFolder(folder_);
    }

    BookChanges bookChanges() {
        BookChanges changes;
        for (const auto& [key, contact] : overlay_) {
            const auto stored = book_.find(key);
            const bool existed = stored != book_.end();
            if (contact) {
                if (existed && normalized(stored->second) == *contact) continue;
                changes.put.push_back(*contact);
                ++(existed ? report_.bookChanged : report_.bookAdded);
            } else if (existed) {
                changes.remove.push_back(key);
                ++report_.bookRemoved;
            }
        }
        return changes;
    }

    const std::string& folder_;
    const std::map<std::string, ContactData>& book_;
    SyncReport& report_;
    std::map<std::string, FolderCard> files_;
    std::set<std::string> seenFiles_;
    std::multiset<std::string> pending_;        // keys of pairs not handled yet
    std::map<std::string, std::string> owner_;  // key -> its card in the new state
    std::map<std::string, std::optional<ContactData>>
        overlay_;  // changes of the book; none: removed
    std::map<std::string, std::optional<std::string>> writes_;  // file -> new bytes; none: removed
    std::string stateLines_;
};

}  // namespace

VdirSync::VdirSync(std::string folder) : folder_(std::move(folder)) {}

BookChanges VdirSync::run(const std::map<std::string, ContactData>& book, SyncReport& report) {
    ran_ = false;
    SyncPass pass(folder_, book, report);
    BookChanges changes = pass.run();
    nextState_ = pass.stateText();
    ran_ = true;
    return changes;
}

void VdirSync::commit() {
    if (!ran_) throw std::logic_error("VdirSync::commit without run");
    writeAtomically(folder_, kSyncStateName, nextState_);
    syncFolder(folder_);
    ran_ = false;
}

}  // namespace contavio
