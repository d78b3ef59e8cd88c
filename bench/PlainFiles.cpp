#include "PlainFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "Measure.h"

namespace contavio::bench {

[[noreturn]] void systemError(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

WorkDir::WorkDir(const std::string& requested) {
    if (!requested.empty()) {
        std::filesystem::create_directories(requested);
        dir_ = requested;
        return;
    }
    std::string name = "contavio-bench-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) systemError("mkdtemp");
    dir_ = std::filesystem::absolute(name).string();
    temporary_ = true;
}

WorkDir::~WorkDir() {
    if (temporary_) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string fileSystemName(const std::string& dir) {
    struct statfs info {};
    if (::statfs(dir.c_str(), &info) != 0) return "unknown file system";
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0xEF53:
            return "ext2/3/4";
        case 0x01021994:
            return "tmpfs";
        case 0x9123683E:
            return "btrfs";
        case 0x58465342:
            return "xfs";
        case 0x794C7630:
            return "overlayfs";
        default:
            return "file system 0x" + [&] {
                char hex[32];
                std::snprintf(hex, sizeof hex, "%lx", static_cast<unsigned long>(info.f_type));
                return std::string(hex);
            }();
    }
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

double plainRead(const std::string& path, int64_t& bytesRead) {
    std::unique_ptr<char[]> buffer;
    const auto start = Clock::now();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) systemError("open " + path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) systemError("fstat " + path);
    const auto size = static_cast<size_t>(st.st_size);
    buffer.reset(new char[size]);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer.get() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) systemError("read " + path);
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    const double seconds = secondsSince(start);
    bytesRead = static_cast<int64_t>(done);
    return seconds;
}

double plainAtomicWrite(const std::string& path, const std::string& bytes) {
    const std::string temp = path + ".tmp";
    const auto start = Clock::now();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) systemError("open " + temp);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) systemError("write " + temp);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) systemError("fsync " + temp);
    if (::close(fd) != 0) systemError("close " + temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) systemError("rename " + temp);
    return secondsSince(start);
}

}  // namespace contavio::bench
