// The files of the contact book and the rules that keep them safe: which
// file start-up reads, the lock that keeps a second program off the book,
// the copies kept of files that were not read in full, and the save at close.
// No widgets: the window shows what this unit says, and tests drive it alone.
//
// The rules:
// - One program per book: the folder is locked while the book is open; the
//   folder that really holds the book, when "data.vlt" is a link.
// - "contact.txt", when present, is read instead of "data.vlt"; after the
//   next save its contacts are in "data.vlt" and it is gone (renamed aside,
//   never deleted, when it was not read in full).
// - A "data.vlt" that close-down would replace and that was not read in full
//   (damaged, or not read because "contact.txt" was) is copied aside at once,
//   under a name the user is told. If it cannot be copied, it is never
//   replaced: the session's contacts go to a new file beside it.
// - A "data.vlt" with more than one name (hard links) is never replaced
//   either: a save renames a new file over one name, so the others would keep
//   the old contacts and a program that opens the book by one of them would
//   work on a second book that no lock keeps apart from this one.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "ContactProto.h"
#include "engine/Conjuntos.h"
#include "persistence/BookLock.h"

namespace contavio {

class BookFiles {
  public:
    // The book in `folder` ("" is the working folder): its "data.vlt" (or
    // the encrypted file `dataName`) and "contact.txt" there.
    explicit BookFiles(const std::string& folder = std::string(),
                       const std::string& dataName = kDataFile);
    BookFiles(const BookFiles&) = delete;
    BookFiles& operator=(const BookFiles&) = delete;
    ~BookFiles();

    // Takes the book's lock. Busy: another program has the book open, and
    // nothing may be read or written. A folder that cannot be locked at all
    // (Unavailable) is used without the lock.
    BookLock::State lock();
    // Lets the book go (the end of close-down).
    void unlock();
    // The folder lock() locks: the one that holds the file "data.vlt" names,
    // links resolved, or the book's folder while there is no such file.
    std::string lockFolder() const;

    // Who has the book open, seen without taking the lock.
    struct User {
        enum class Kind {
            None,         // nobody, as far as the system says
            Window,       // Contavio's window, in another process or in this one
            CommandLine,  // contavio-book
            Other,        // another program: `program` (may be empty), `pid`
        };
        Kind kind = Kind::None;
        QString program;
        long pid = 0;
    };
    User user() const;
    // What the window tells the user when lock() says Busy: who has the book.
    QString busyMessage() const;

    // Start-up: reads the book into `slot` of `sets` (which must be empty)
    // and keeps aside what close-down would otherwise lose: inspect, then
    // keepUnread. Returns what to tell the user, or an empty text. Never
    // throws: a read that fails part way leaves what was read, and a set that
    // is no contact book is dropped.
    QString load(TConjuntos& sets, int32_t slot);
    // Reads the book into `slot` like load, but keeps nothing aside and
    // changes no file. Returns why the book could not be read in full, or an
    // empty text (also when there is no book).
    QString inspect(TConjuntos& sets, int32_t slot);
    // After inspect: copies aside the files that close-down would replace or
    // delete without their having been read in full, and returns what to tell
    // the user about the read and the copies, or an empty text.
    QString keepUnread(const TConjuntos& sets, int32_t slot);
    // The size of the file start-up reads, 0 when there is none.
    qint64 sourceBytes() const;
    // Whether the file start-up reads ("contact.txt" or "data.vlt") exists.
    bool exists() const;
    // The file start-up reads: "contact.txt" when it exists, else "data.vlt".
    const std::string& sourceFile() const;

    // Close-down: writes `slot` to "data.vlt" (or to a new file when
    // "data.vlt" may not be replaced), then retires "contact.txt". Throws
    // the writer's error when the save fails; nothing is deleted then.
    // Returns what to tell the user after the save, or an empty text.
    QString save(TConjuntos& sets, int32_t slot);
    // Why "data.vlt" may not be replaced because it has another name (a hard
    // link), or an empty text.
    QString secondName() const;

    // What `file` is to this book, for a command that would write over it (an
    // export): the book itself under any name (a link, a hard link), its
    // legacy file, the state of a sync kept beside it, or another file that
    // reads as a contact book (a copy kept aside, another book); None for
    // anything else.
    enum class Kind { None, Book, Legacy, SyncState, OtherBook };
    Kind kindOf(const std::string& file) const;

    // The file the last save wrote or tried to write.
    const std::string& saveTarget() const { return saveTarget_; }

    const std::string& dataFile() const { return dataFile_; }
    const std::string& legacyFile() const { return legacyFile_; }

  private:
    // Reads the source into slot; false with the reason when not in full.
    bool read(TConjuntos& sets, int32_t slot, QString& reason);
    // Copies dataFile_ aside as base; on failure marks it not to be replaced
    // and returns the reason.
    QString keepDataFile(const char* suffix);

    std::string folder_;
    std::string dataFile_;
    std::string legacyFile_;
    std::unique_ptr<BookLock> lock_;
    std::string saveTarget_;

    bool legacySource_ = false;     // the contacts came from "contact.txt"
    bool sourceDamaged_ = false;    // ... or "data.vlt" and it was not read in full
    bool dataUntouchable_ = false;  // "data.vlt" was not read and could not be copied
    std::string legacyAside_;       // where a damaged "contact.txt" goes after the save
    QString damage_;                // why the last read was not in full
};

}  // namespace contavio
