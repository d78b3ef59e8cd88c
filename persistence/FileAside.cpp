#include "FileAside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
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

}  // namespace contavio
