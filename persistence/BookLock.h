// One program per book: a lock on the folder that holds the book, taken for
// as long as a program reads and writes its files. The lock is the kernel's
// (flock on the folder), so it goes with the process that held it, however
// that process ends, and it leaves no file behind. Who holds it is read from
// the kernel's own table of locks, so nothing is written for that either.
#pragma once

#include <string>

namespace contavio {

class BookLock {
  public:
    enum class State {
        Held,         // this object holds the lock
        Busy,         // another program (or another BookLock) holds it
        Unavailable,  // the folder cannot be opened or locked (see reason())
    };

    // Tries once, without waiting, to lock the folder `folder` ("" is the
    // working folder).
    explicit BookLock(const std::string& folder);
    BookLock(const BookLock&) = delete;
    BookLock& operator=(const BookLock&) = delete;
    ~BookLock();  // releases a held lock

    State state() const { return state_; }
    // The system's message when the lock is unavailable; empty otherwise.
    const std::string& reason() const { return reason_; }

  private:
    int fd_ = -1;
    State state_ = State::Unavailable;
    std::string reason_;
};

// The process that holds a lock, as the kernel lists it (/proc/locks).
struct LockHolder {
    long pid = 0;         // 0: none found (no holder, or the system does not say)
    std::string program;  // the name of its program file (/proc/PID/comm); "" when hidden
};

// Who holds the lock on `folder` ("" is the working folder), seen without
// taking it: the lock on its device and inode, or, where the file system
// numbers devices differently for the table, on its inode alone. A holder
// that has just ended, or a system without /proc, gives pid 0.
LockHolder lockHolder(const std::string& folder);

}  // namespace contavio
