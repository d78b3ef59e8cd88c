#include "FileAside.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <regex>
#include <vector>

#include "DataFiles.h"
#include "Descriptor.h"

namespace contavio {

namespace {

[[noreturn]] void fail(int error) { throw FileError(std::strerror(error)); }

std::string stamped(const std::string& base) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "-%Y%m%d-%H%M%S", &local);
    return base + stamp;
}

std::string numbered(const std::string& stem, int n) {
    return n < 2 ? stem : stem + "-" + std::to_string(n);
}

bool taken(const std::string& name) {
    struct stat info {};
    return ::lstat(name.c_str(), &info) == 0 || errno != ENOENT;
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t written = fileLayer().write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
}

// Whether `tail` is what freshName adds to a base.
bool isStamp(const std::string& tail) {
    static const std::regex stamp("-[0-9]{8}-[0-9]{6}(-[0-9]+)?");
    return std::regex_match(tail, stamp);
}

// Reads up to size bytes, fewer only at the end of the file.
ssize_t readFull(int fd, char* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = fileLayer().read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Whether two open files hold the same bytes; a failed read counts as not.
bool sameBytes(int a, int b) {
    std::vector<char> left(1 << 16);
    std::vector<char> right(1 << 16);
    for (;;) {
        const ssize_t got = readFull(a, left.data(), left.size());
        if (got < 0 || readFull(b, right.data(), right.size()) != got) return false;
        if (got == 0) return true;
        if (std::memcmp(left.data(), right.data(), static_cast<size_t>(got)) != 0) return false;
    }
}

}  // namespace

std::string freshName(const std::string& base) {
    const std::string stem = stamped(base);
    int n = 1;
    while (taken(numbered(stem, n))) ++n;
    return numbered(stem, n);
}

std::string copyAside(const std::string& file, const std::string& base) {
    const Descriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) fail(errno);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) fail(errno);
    if (S_ISDIR(info.st_mode)) fail(EISDIR);

    const std::string stem = stamped(base);
    std::string name;
    int fd = -1;
    for (int n = 1; fd < 0; ++n) {
        name = numbered(stem, n);
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) fail(errno);
    }
    const Descriptor out(fd);
    try {
        if (::fchmod(out.get(), info.st_mode & 07777) != 0) fail(errno);
        std::vector<char> block(1 << 20);
        for (;;) {
            const ssize_t got = fileLayer().read(in.get(), block.data(), block.size());
            if (got < 0) {
                if (errno == EINTR) continue;
                fail(errno);
            }
            if (got == 0) break;
            writeAll(out.get(), block.data(), static_cast<size_t>(got));
        }
        if (fileLayer().fsync(out.get()) != 0) fail(errno);
    } catch (...) {
        ::unlink(name.c_str());
        throw;
    }
    return name;
}

std::string keepAside(const std::string& file, const std::string& base) {
    const size_t slash = base.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : base.substr(0, slash + 1);
    const std::string stem = base.substr(folder.size());
    const Descriptor in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    const std::unique_ptr<DIR, int (*)(DIR*)> entries(
        ::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (in.get() >= 0 && ::fstat(in.get(), &info) == 0 && S_ISREG(info.st_mode) && entries) {
        while (const dirent* entry = ::readdir(entries.get())) {
            const std::string name = entry->d_name;
            if (name.compare(0, stem.size(), stem) != 0 || !isStamp(name.substr(stem.size())))
                continue;
            const std::string kept = folder + name;
            // O_NOFOLLOW: a link planted under such a name is never taken for a copy.
            const Descriptor other(::open(kept.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            struct stat otherInfo {};
            if (other.get() < 0 || ::fstat(other.get(), &otherInfo) != 0 ||
                !S_ISREG(otherInfo.st_mode) || otherInfo.st_size != info.st_size) {
                continue;
            }
            if (::lseek(in.get(), 0, SEEK_SET) == 0 && sameBytes(in.get(), other.get()))
                return kept;
        }
    }
    return copyAside(file, base);
}

}  // namespace contavio
