#include "BookLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace contavio {

BookLock::BookLock(const std::string& folder) {
    const std::string path = folder.empty() ? "." : folder;
    // O_CLOEXEC: a program started from this one does not inherit the lock.
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        reason_ = std::strerror(errno);
        return;
    }
    int result;
    do {
        result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        state_ = State::Held;
        return;
    }
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    if (error == EWOULDBLOCK) {
        state_ = State::Busy;
    } else {
        reason_ = std::strerror(error);
    }
}

BookLock::~BookLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

LockHolder lockHolder(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0) return {};
    // Some file systems (btrfs subvolumes) give stat another device number
    // than the table: the same inode on another device is the next best.
    long exact = 0;
    long sameInode = 0;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line) && exact == 0;) {
        std::istringstream fields(line);
        std::string number, type, mode, access, file;
        long pid = 0;
        fields >> number >> type;
        if (type != "FLOCK") continue;  // a waiting process's line has "->" here
        if (!(fields >> mode >> access >> pid >> file) || pid <= 0) continue;
        // The kernel names the file MAJOR:MINOR:INODE, the device's numbers
        // in hexadecimal with leading zeros that differ between kernels.
        unsigned devMajor = 0, devMinor = 0;
        unsigned long inode = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%lu", &devMajor, &devMinor, &inode) != 3 ||
            inode != info.st_ino) {
            continue;
        }
        if (devMajor == major(info.st_dev) && devMinor == minor(info.st_dev)) {
            exact = pid;
        } else if (sameInode == 0) {
            sameInode = pid;
        }
    }
    LockHolder holder;
    holder.pid = exact != 0 ? exact : sameInode;
    if (holder.pid != 0) {
        std::ifstream comm("/proc/" + std::to_string(holder.pid) + "/comm");
        std::getline(comm, holder.program);
    }
    return holder;
}

}  // namespace contavio
