#include "exchange/KeptCopies.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "exchange/CardContact.h"
#include "exchange/FolderStore.h"

namespace contavio {

namespace {

constexpr char kContents[] = ".contenido";

std::string stamp(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// The file a card is kept in: its own name, unless that name cannot be a
// file's (a slash or a NUL from a server's href, "." or "..", too long):
// then a tame spelling of it and a hash of the whole name, which keeps two
// such names apart.
std::string keptFileName(const std::string& name) {
    constexpr size_t kLongest = 200;
    if (name.size() <= kLongest && name != "." && name != ".." && !name.empty() &&
        name.find_first_of(std::string_view("/\0", 2)) == std::string::npos)
        return name;
    std::string tame;
    for (const char c : name.substr(0, kLongest / 2)) {
        if (c == '/') {
            tame += "%2F";
        } else if (c == '\0') {
            tame += "%00";
        } else {
            tame += c;
        }
    }
    return tame + "~" + bytesVersion(name);
}

void makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) failOn("crear la carpeta", path);
}

}  // namespace

KeptCopies::KeptCopies(std::string root, std::time_t now)
    : root_(std::move(root)), folder_(root_ + "/" + stamp(now)), now_(now) {}

void KeptCopies::open() {
    if (used_) return;
    makeFolder(root_);
    removeOld();
    // A run in the same second as another gets a folder of its own.
    const std::string base = folder_;
    for (int n = 2; ::mkdir(folder_.c_str(), 0700) != 0; ++n) {
        if (errno != EEXIST) failOn("crear la carpeta", folder_);
        folder_ = base + "-" + std::to_string(n);
    }
    makeFolder(folder_ + "/tarjetas");
    used_ = true;
}

// Only folders named as this class names them, older than kKeptDays by
// their name, are removed: nothing else the user put there.
void KeptCopies::removeOld() const {
    const std::string oldest = stamp(now_ - std::time_t{kKeptDays} * 24 * 3600);
    DIR* dir = ::opendir(root_.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> old;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const bool dated = name.size() >= 15 && name[8] == '-' &&
                           name.find_first_not_of("0123456789-") == std::string::npos;
        if (dated && name.substr(0, 15) < oldest) old.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : old) {
        std::error_code ignored;  // what cannot be removed now goes next time
        std::filesystem::remove_all(root_ + "/" + name, ignored);
    }
    // A content no run's folder links any more.
    const std::string contents = root_ + "/" + kContents;
    if (old.empty() || (dir = ::opendir(contents.c_str())) == nullptr) return;
    std::vector<std::string> unlinked;
    while (const dirent* entry = ::readdir(dir)) {
        struct stat st {};
        const std::string path = contents + "/" + entry->d_name;
        if (entry->d_name[0] != '.' && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_nlink == 1)
            unlinked.push_back(path);
    }
    ::closedir(dir);
    for (const std::string& path : unlinked) ::unlink(path.c_str());
}

// A card is kept once per content, in <root>/.contenido/, and linked into
// each run's folder that keeps it: a sync that rewrites the same cards
// again and again does not fill the disk with copies of their photos.
void KeptCopies::keepCard(const std::string& name, const std::string& bytes) {
    open();
    const std::string contents = root_ + "/" + kContents;
    const std::string copy = contents + "/" + bytesVersion(bytes);
    struct stat st {};
    if (::stat(copy.c_str(), &st) != 0 || static_cast<size_t>(st.st_size) != bytes.size()) {
        makeFolder(contents);
        writeFileIn(contents, bytesVersion(bytes), bytes);
    }
    const std::string file = keptFileName(name);
    const std::string target = folder_ + "/tarjetas/" + file;
    if (::link(copy.c_str(), target.c_str()) != 0) writeFileIn(folder_ + "/tarjetas", file, bytes);
}

void KeptCopies::flush() const {
    if (!used_) return;
    syncFolder(root_ + "/" + kContents);
    syncFolder(folder_ + "/tarjetas");
}

void KeptCopies::keepContacts(const std::vector<ContactData>& contacts) {
    if (contacts.empty()) return;
    open();
    std::vector<ContactData> normal;
    for (const ContactData& c : contacts) normal.push_back(normalizedContact(c, nullptr));
    writeFileIn(folder_, "agenda.vcf", exportVCards(normal, VCardVersion::V30).text);
    syncFolder(folder_);
}

}  // namespace contavio
