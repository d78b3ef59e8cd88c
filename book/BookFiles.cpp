#include "BookFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <exception>

#include "Ansi.h"
#include "ContactProto.h"
#include "Texts.h"
#include "engine/UhashElem.h"
#include "persistence/FileAside.h"

namespace contavio {

namespace {

QString shown(const std::string& name) { return QString::fromLocal8Bit(name); }

std::string inFolder(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The shape every operation of the window takes for granted: a file may be
// well formed and still hold another kind of set, whose fields the window
// would read and write out of range.
bool isContactSet(const hashElemR& set) {
    const TprotoData contact = contactProto();
    const TprotoData* proto = set.proto.get();
    return proto != nullptr && set.keyField == kKeyField && proto->nInt == contact.nInt &&
           proto->nStr == contact.nStr && proto->nFloat == contact.nFloat &&
           proto->nIntList == contact.nIntList && proto->nStrList == contact.nStrList &&
           proto->nFloatList == contact.nFloatList;
}

// A regular file, or a link to one: what a save would replace.
bool replaceable(const std::string& file) { return QFileInfo(shown(file)).isFile(); }

// Whether file (a link followed) is a regular file with more than one name.
bool hardLinked(const std::string& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink > 1;
}

// Whether a and b name one file (links followed).
bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Whether the folder of `file` is `folder` ("" is the working folder).
bool inFolderOf(const QString& file, const std::string& folder) {
    const QString real = QFileInfo(QFileInfo(file).absolutePath()).canonicalFilePath();
    return !real.isEmpty() &&
           real ==
               QFileInfo(folder.empty() ? QStringLiteral(".") : shown(folder)).canonicalFilePath();
}

// Whether the regular file `file` reads, in full or in part, as a contact
// book: encrypted like "data.vlt" or in plain text like "contact.txt".
bool readsAsBook(const std::string& file) {
    if (!QFileInfo(shown(file)).isFile()) return false;
    for (const bool plain : {false, true}) {
        TConjuntos sets(1);
        try {
            if (plain) {
                sets.loadText(file, 0);
            } else {
                sets.loadCrypt(file, 0, kCipherKey);
            }
        } catch (...) {
            // A damaged book is still a book: what was made is looked at.
        }
        if (!sets.isEmpty(0) && isContactSet(*sets.sets[0])) return true;
    }
    return false;
}

// The names of the two programs' files, as the system lists a process.
constexpr char kWindowProgram[] = "contavio";
constexpr char kCommandLineProgram[] = "contavio-book";

}  // namespace

BookFiles::BookFiles(const std::string& folder, const std::string& dataName)
    : folder_(folder),
      dataFile_(inFolder(folder, dataName)),
      legacyFile_(inFolder(folder, kLegacyFile)) {}

BookFiles::~BookFiles() = default;

std::string BookFiles::lockFolder() const {
    // A link to the book locks the book's own folder, so that a program on
    // the link and one on the file exclude each other.
    const QString real = QFileInfo(shown(dataFile_)).canonicalFilePath();
    if (real.isEmpty()) return folder_;
    return QFileInfo(real).path().toLocal8Bit().toStdString();
}

BookLock::State BookFiles::lock() {
    lock_ = std::make_unique<BookLock>(lockFolder());
    return lock_->state();
}

BookFiles::User BookFiles::user() const {
    const LockHolder holder = lockHolder(lockFolder());
    User user;
    user.pid = holder.pid;
    user.program = QString::fromLocal8Bit(holder.program);
    if (holder.pid == 0) {
        user.kind = User::Kind::None;
    } else if (holder.pid == ::getpid() || holder.program == kWindowProgram) {
        // Only a window keeps a book open in this process: a second window.
        user.kind = User::Kind::Window;
    } else if (holder.program == kCommandLineProgram) {
        user.kind = User::Kind::CommandLine;
    } else {
        user.kind = User::Kind::Other;
    }
    return user;
}

void BookFiles::unlock() { lock_.reset(); }

QString BookFiles::keepDataFile(const char* suffix) {
    try {
        return shown(keepAside(dataFile_, dataFile_ + suffix));
    } catch (const std::exception& error) {
        dataUntouchable_ = true;
        return ui(text::kNotCopied) + shown(dataFile_) + QStringLiteral(" (") +
               fromErrorText(error.what()) + QStringLiteral(")") + ui(text::kNotCopiedSoKept);
    }
}

qint64 BookFiles::sourceBytes() const {
    const QFileInfo legacy(shown(legacyFile_));
    return legacy.exists() ? legacy.size() : QFileInfo(shown(dataFile_)).size();
}

QString BookFiles::busyMessage() const {
    const User holder = user();
    if (holder.kind == User::Kind::Window) return ui(text::kAlreadyOpen);
    QString who = holder.kind == User::Kind::CommandLine ? QString::fromLatin1(kCommandLineProgram)
                                                         : ui(text::kOtherProgram);
    if (holder.pid != 0) {
        const bool named = holder.kind == User::Kind::Other && !holder.program.isEmpty();
        who += QStringLiteral(" (") + (named ? holder.program + QStringLiteral(", ") : QString()) +
               ui(text::kProcess) + QString::number(holder.pid) + QLatin1Char(')');
    }
    return ui(text::kOpenElsewhere) + who + ui(text::kOpenElsewhereEnd);
}

const std::string& BookFiles::sourceFile() const {
    return QFileInfo::exists(shown(legacyFile_)) ? legacyFile_ : dataFile_;
}

bool BookFiles::exists() const {
    return QFileInfo::exists(shown(legacyFile_)) || QFileInfo::exists(shown(dataFile_));
}

bool BookFiles::read(TConjuntos& sets, int32_t slot, QString& reason) {
    legacySource_ = QFileInfo::exists(shown(legacyFile_));
    const std::string& source = legacySource_ ? legacyFile_ : dataFile_;
    bool whole = true;
    try {
        if (legacySource_) {
            sets.loadText(legacyFile_, slot);
        } else {
            sets.loadCrypt(dataFile_, slot, kCipherKey);
        }
    } catch (const std::exception& error) {
        whole = false;
        reason = fromErrorText(error.what());
    } catch (...) {
        whole = false;
        reason = ui(text::kUnknownError);
    }

    // A set of another shape is not used; its file is kept like a damaged one.
    if (!sets.isEmpty(slot) && !isContactSet(*sets.sets[static_cast<size_t>(slot)])) {
        destroyHashE(sets.sets[static_cast<size_t>(slot)]);
        if (whole) {
            whole = false;
            reason = ui(text::kNotAContactBookStart) + shown(source) + ui(text::kNotAContactBook);
        }
    }
    return whole;
}

QString BookFiles::inspect(TConjuntos& sets, int32_t slot) {
    damage_.clear();
    sourceDamaged_ = !read(sets, slot, damage_);
    return damage_;
}

QString BookFiles::load(TConjuntos& sets, int32_t slot) {
    inspect(sets, slot);
    return keepUnread(sets, slot);
}

QString BookFiles::keepUnread(const TConjuntos& sets, int32_t slot) {
    const QString& reason = damage_;
    const std::string& source = legacySource_ ? legacyFile_ : dataFile_;

    QString message;
    if (sourceDamaged_) {
        // The set may have been made before the damage without a contact in it.
        const bool contactsRead =
            !sets.isEmpty(slot) && countHashE(sets.sets[static_cast<size_t>(slot)]) > 0;
        message = ui(text::kReadFailed) + shown(source) + QStringLiteral(":\n") + reason +
                  QStringLiteral("\n\n") +
                  ui(contactsRead ? text::kPartialKept : text::kNothingRead) + QLatin1Char('\n');
        if (legacySource_) {
            legacyAside_ = freshName(legacyFile_ + ".damaged");
            message += ui(text::kDamagedLegacyKept) + shown(legacyAside_) + QLatin1Char('.');
        } else if (replaceable(dataFile_)) {
            const QString kept = keepDataFile(".damaged");
            message += dataUntouchable_
                           ? kept
                           : ui(text::kDamagedCopied) + kept + ui(text::kDamagedReplacedAtClose);
        }
    }
    if (legacySource_ && replaceable(dataFile_)) {
        const QString kept = keepDataFile(".replaced");
        if (!message.isEmpty()) message += QStringLiteral("\n\n");
        message += dataUntouchable_ ? kept : ui(text::kLegacyRead) + kept + QLatin1Char('.');
    }
    return message;
}

QString BookFiles::secondName() const {
    if (!hardLinked(dataFile_)) return QString();
    return ui(text::kHardLinkedStart) + shown(dataFile_) + ui(text::kHardLinked);
}

BookFiles::Kind BookFiles::kindOf(const std::string& file) const {
    if (sameFile(file, dataFile_)) return Kind::Book;
    if (sameFile(file, legacyFile_)) return Kind::Legacy;
    const QString name = shown(file);
    const QString base = QFileInfo(name).fileName();
    for (const std::string& folder : {folder_, lockFolder()}) {
        if (!inFolderOf(name, folder)) continue;
        if (base == QFileInfo(shown(dataFile_)).fileName()) return Kind::Book;
        if (base == QString::fromLatin1(kLegacyFile)) return Kind::Legacy;
        if (base.startsWith(QStringLiteral(".contavio-sync-")) ||
            base.startsWith(QStringLiteral(".contavio-server-"))) {
            return Kind::SyncState;
        }
    }
    return readsAsBook(file) ? Kind::OtherBook : Kind::None;
}

QString BookFiles::save(TConjuntos& sets, int32_t slot) {
    if (dataUntouchable_ || hardLinked(dataFile_)) {
        saveTarget_ = freshName(dataFile_ + ".new");
        sets.saveCrypt(saveTarget_, slot, kCipherKey);
        if (dataUntouchable_) {
            return ui(text::kSavedToNewFile) + shown(saveTarget_) + ui(text::kSavedToNewFileWhy);
        }
        return ui(text::kSavedToNewFile) + shown(saveTarget_) + QStringLiteral(".\n") +
               secondName() + ui(text::kHardLinkedThenNewFile);
    }
    saveTarget_ = dataFile_;
    sets.saveCrypt(dataFile_, slot, kCipherKey);

    // A "contact.txt" that appeared while the program ran was never read and
    // stays for the next start.
    if (!legacySource_) return QString();
    QFile legacy(shown(legacyFile_));
    if (!legacy.exists()) return QString();
    if (sourceDamaged_) {
        if (QFileInfo::exists(shown(legacyAside_)) || QFileInfo(shown(legacyAside_)).isSymLink()) {
            legacyAside_ = freshName(legacyFile_ + ".damaged");
        }
        if (!legacy.rename(shown(legacyAside_))) {
            return ui(text::kLegacyNotMoved) + shown(legacyFile_) + ui(text::kBackupTo) +
                   shown(legacyAside_) + QStringLiteral(":\n") + legacy.errorString();
        }
    } else if (!legacy.remove()) {
        return ui(text::kLegacyNotRemoved) + shown(legacyFile_) + QStringLiteral(":\n") +
               legacy.errorString();
    }
    return QString();
}

}  // namespace contavio
