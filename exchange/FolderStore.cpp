#include "exchange/FolderStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace contavio {

namespace {

constexpr char kTempPrefix[] = ".contavio-tmp-";
constexpr char kCardExtension[] = ".vcf";

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

void failOn(const std::string& what, const std::string& path) {
    throw std::runtime_error("No se pudo " + what + " \xAB" + path +
                             "\xBB: " + std::strerror(errno));
}

std::string bytesVersion(std::string_view bytes) {
    // FNV-1a, 64 bits, and the length: tells changed bytes from those of the
    // last sync; not meant to resist anyone forging a collision.
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%016llx-%zu", static_cast<unsigned long long>(h),
                  bytes.size());
    return text;
}

void writeFileIn(const std::string& folder, const std::string& name, std::string_view bytes) {
    std::string temp = folder + "/" + kTempPrefix + "XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) failOn("crear un archivo temporal en", folder);
    auto failHere = [&](const char* what) {
        const int saved = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        errno = saved;
        failOn(what, folder + "/" + name);
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
        failOn("guardar", folder + "/" + name);
    }
    const std::string target = folder + "/" + name;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        failOn("reemplazar", target);
    }
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) failOn("abrir la carpeta", folder);
    if (::fsync(fd) != 0 && errno != EINVAL) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        failOn("guardar la carpeta", folder);
    }
    ::close(fd);
}

std::string readToEnd(int fd, const std::string& path, size_t expected) {
    std::string bytes;
    bytes.reserve(expected);
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            ::close(fd);
            errno = saved;
            failOn("leer", path);
        }
        if (n == 0) break;
        bytes.append(block, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

FolderStore::FolderStore(std::string folder, bool readOnly)
    : folder_(std::move(folder)), readOnly_(readOnly) {}

std::optional<std::string> FolderStore::readRegular(const std::string& name) const {
    const std::string path = folder_ + "/" + name;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOFOLLOW: a
    // link is no card of this folder.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ELOOP || errno == ENXIO || errno == EISDIR) {
            return std::nullopt;
        }
        failOn("abrir", path);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    return readToEnd(fd, path, static_cast<size_t>(st.st_size));
}

StoreListing FolderStore::list() {
    DIR* dir = ::opendir(folder_.c_str());
    if (dir == nullptr) failOn("abrir la carpeta", folder_);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kTempPrefix, 0) == 0) {
            if (!readOnly_) ::unlink((folder_ + "/" + name).c_str());
        } else if (name[0] != '.' && endsWith(name, kCardExtension)) {
            names.push_back(name);
        }
        errno = 0;
    }
    const int saved = errno;
    ::closedir(dir);
    errno = saved;
    if (errno != 0) failOn("leer la carpeta", folder_);

    StoreListing listing;
    for (const std::string& name : names) {
        std::optional<std::string> bytes = readRegular(name);
        if (!bytes) {
            listing.skipped.push_back(name);
            continue;
        }
        listing.items[name] = bytesVersion(*bytes);
    }
    versions_ = listing.items;
    return listing;
}

std::string FolderStore::read(const std::string& name) {
    // The listing keeps versions only, so that a folder of cards with photos
    // is never held whole: the file is read again, and must still be the
    // one listed.
    std::optional<std::string> bytes = readRegular(name);
    if (!bytes) throw StoreChanged("\xAB" + name + "\xBB ya no est\xE1 en la carpeta");
    if (auto it = versions_.find(name); it != versions_.end() && it->second != bytesVersion(*bytes))
        throw StoreChanged("\xAB" + folder_ + "/" + name +
                           "\xBB cambi\xF3 durante la sincronizaci\xF3n");
    return std::move(*bytes);
}

std::string FolderStore::write(const std::string& name, std::string_view bytes,
                               const std::optional<std::string>& ifVersion) {
    const std::optional<std::string> now = readRegular(name);
    const bool holds = ifVersion ? now && bytesVersion(*now) == *ifVersion : !now;
    if (!holds) {
        throw StoreChanged("\xAB" + folder_ + "/" + name +
                           "\xBB cambi\xF3 durante la sincronizaci\xF3n");
    }
    writeFileIn(folder_, name, bytes);
    return versions_[name] = bytesVersion(bytes);
}

void FolderStore::remove(const std::string& name, const std::string& ifVersion) {
    const std::optional<std::string> now = readRegular(name);
    if (!now) return;
    if (bytesVersion(*now) != ifVersion) {
        throw StoreChanged("\xAB" + folder_ + "/" + name +
                           "\xBB cambi\xF3 durante la sincronizaci\xF3n");
    }
    const std::string path = folder_ + "/" + name;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) failOn("borrar", path);
    versions_.erase(name);
}

void FolderStore::flush() { syncFolder(folder_); }

}  // namespace contavio
