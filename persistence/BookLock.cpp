#include "BookLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace contavio
