#include "book/ServerSync.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>

#include "book/Ansi.h"
#include "book/DavClient.h"
#include "book/DavDiscovery.h"
#include "book/DavStore.h"
#include "book/Texts.h"
#include "exchange/SyncState.h"

namespace contavio {

namespace {

QString u(const char* text) { return QString::fromUtf8(text); }

// The address book a state was written for, from its second line.
QUrl placeInState(const std::string& statePath) {
    QFile file(QString::fromStdString(statePath));
    if (!file.open(QIODevice::ReadOnly)) return {};
    file.readLine();
    const QByteArray line = file.readLine().trimmed();
    if (!line.startsWith("lugar ")) return {};
    return QUrl(QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(6))));
}

// The address book that the last sync used: a sync with a known address
// book asks the server nothing else first.
QUrl lastAddressBook(const std::string& statePath, const ServerTarget& target) {
    const QUrl url = placeInState(statePath);
    if (!url.isValid()) return {};
    const bool sameServer = url.scheme() == target.url.scheme() &&
                            url.host() == target.url.host() && url.port() == target.url.port();
    return sameServer ? url : QUrl();
}

// The book a state belongs to: its "libro" line, or "data.vlt".
std::string bookOfState(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    file.readLine();
    file.readLine();
    const QByteArray line = file.readLine().trimmed();
    if (!line.startsWith("libro ")) return "data.vlt";
    return QByteArray::fromPercentEncoding(line.mid(6)).toStdString();
}

// The states of this book's server syncs, but the one at statePath: every
// ".contavio-server-<hash>" of the book, newest first. Another book beside
// it has states of its own.
QFileInfoList otherServerStates(const std::string& bookFolder, const std::string& statePath,
                                const std::string& bookName) {
    static const QRegularExpression kStateName(QStringLiteral("^\\.contavio-server-[0-9a-f]{16}$"));
    QFileInfoList others;
    const QDir folder(QString::fromStdString(bookFolder));
    for (const QFileInfo& file : folder.entryInfoList({QStringLiteral(".contavio-server-*")},
                                                      QDir::Files | QDir::Hidden, QDir::Time)) {
        if (kStateName.match(file.fileName()).hasMatch() &&
            file.absoluteFilePath() != QString::fromStdString(statePath) &&
            bookOfState(file.absoluteFilePath()) == bookName) {
            others.push_back(file);
        }
    }
    return others;
}

bool sameAddressBook(const QUrl& a, const QUrl& b) {
    return a.adjusted(QUrl::StripTrailingSlash) == b.adjusted(QUrl::StripTrailingSlash);
}

// The same address book, or one at the same path on another address of a
// server (localhost for 127.0.0.1, a name for its address): its state stays.
bool maybeSameAddressBook(const QUrl& a, const QUrl& b) {
    return sameAddressBook(a, b) || a.adjusted(QUrl::StripTrailingSlash).path() ==
                                        b.adjusted(QUrl::StripTrailingSlash).path();
}

// The address book of another account or URL that this book was last synced
// with, when it is not the one found now; "" when none.
std::string formerPlace(const std::string& bookFolder, const std::string& statePath,
                        const std::string& bookName, const QUrl& found) {
    for (const QFileInfo& file : otherServerStates(bookFolder, statePath, bookName)) {
        const QUrl last = placeInState(file.absoluteFilePath().toStdString());
        if (last.isValid() && !sameAddressBook(last, found))
            return last.toString(QUrl::FullyEncoded).toStdString();
    }
    return {};
}

std::string trustPath(const std::string& bookFolder, const ServerTarget& target) {
    return serverStatePath(bookFolder, target) + "-certificado";
}

// Each card the server would not hand out, named with the reason, in place
// of the sync's word that it holds no card.
void tellWithheld(const DavStore& store, const QUrl& addressBook, SyncReport& report) {
    for (const auto& [name, why] : store.withheld()) {
        const std::string said =
            name + ": " + toAnsi(ui(text::kDavWithheldCard).arg(addressBook.host(), why));
        const std::string unreadable = name + ": no contiene ninguna tarjeta";
        const auto it =
            std::find_if(report.notes.begin(), report.notes.end(),
                         [&](const std::string& n) { return n.rfind(unreadable, 0) == 0; });
        if (it != report.notes.end()) {
            *it = said;
        } else {
            report.notes.push_back(said);
        }
    }
}

}  // namespace

struct ServerSync::Impl {
    ServerTarget target;
    std::string bookFolder;
    SyncOptions options;
    std::unique_ptr<DavClient> client;
    std::unique_ptr<DavStore> store;
    std::unique_ptr<SyncEngine> engine;
    QUrl addressBook;
    ProgressReport progress;
    bool synced = false;  // run() changed or will change something: other states are stale
};

ProbeResult probeServer(const ServerTarget& target) {
    try {
        DavClient client(target);
        return discoverAddressBook(client, target);
    } catch (const ServerError& error) {
        ProbeResult result;
        result.error = error.message();
        result.untrustedSha256 = error.untrustedSha256();
        result.passwordWithheldFrom = error.passwordWithheldFrom();
        return result;
    }
}

ServerSync::ServerSync(ServerTarget target, const std::string& bookFolder, SyncOptions options)
    : impl_(std::make_unique<Impl>()) {
    impl_->target = std::move(target);
    impl_->bookFolder = bookFolder;
    impl_->options = std::move(options);
}

ServerSync::~ServerSync() = default;

BookChanges ServerSync::run(const BookContacts& book, SyncReport& report) {
    Impl& s = *impl_;
    // The network objects belong to the thread that runs the sync.
    s.engine.reset();
    s.store.reset();
    s.client = std::make_unique<DavClient>(s.target);
    s.options.statePath = serverStatePath(s.bookFolder, s.target, s.options.bookName);
    // The states of this address book under another spelling of the account
    // or another address of the server: one whose cards these are goes on.
    s.options.otherStates.clear();
    for (const QFileInfo& file :
         otherServerStates(s.bookFolder, s.options.statePath, s.options.bookName)) {
        s.options.otherStates.push_back(file.absoluteFilePath().toStdString());
    }
    s.options.keptRoot = syncPlaces(s.bookFolder, s.bookFolder).kept;
    s.addressBook = lastAddressBook(s.options.statePath, s.target);
    if (!s.addressBook.isValid()) {
        const ProbeResult found = discoverAddressBook(*s.client, s.target);
        if (!found.ok) throw ServerError(found.error);
        s.addressBook = found.addressBookUrl;
    }
    s.options.place = s.addressBook.toString(QUrl::FullyEncoded).toStdString();
    s.options.formerPlace =
        QFileInfo::exists(QString::fromStdString(s.options.statePath))
            ? std::string()
            : formerPlace(s.bookFolder, s.options.statePath, s.options.bookName, s.addressBook);
    s.store = std::make_unique<DavStore>(*s.client, s.addressBook);
    s.store->setProgress(s.progress);
    s.engine = std::make_unique<SyncEngine>(*s.store, s.options);
    try {
        BookChanges changes = s.engine->run(book, report);
        tellWithheld(*s.store, s.addressBook, report);
        s.synced = !report.refused && !s.options.dryRun;
        return changes;
    } catch (const ServerError&) {
        throw;
    } catch (const StoreChanged& changed) {
        throw ServerError(u("Las tarjetas cambian en el servidor mientras se sincroniza (%1): "
                            "pruebe otra vez en un momento.")
                              .arg(fromErrorText(changed.what())));
    } catch (const std::exception& error) {
        throw ServerError(fromErrorText(error.what()));
    }
}

void ServerSync::commit() {
    if (!impl_->engine) return;
    try {
        impl_->engine->commit();
    } catch (const std::exception& error) {
        throw ServerError(fromErrorText(error.what()));
    }
    // The state holds the server's address and the user's cards.
    ::chmod(impl_->options.statePath.c_str(), 0600);
    // The book is now in step with this address book alone: a state of
    // another address book would pair contacts with cards of another time.
    // The states of this one under another spelling of the account (the
    // window's, the command line's, another address of the server) stay.
    if (!impl_->synced) return;
    impl_->synced = false;
    for (const QFileInfo& file :
         otherServerStates(impl_->bookFolder, impl_->options.statePath, impl_->options.bookName)) {
        const QUrl last = placeInState(file.absoluteFilePath().toStdString());
        if (!last.isValid() || !maybeSameAddressBook(last, impl_->addressBook))
            QFile::remove(file.absoluteFilePath());
    }
}

void ServerSync::setProgress(ProgressReport progress) { impl_->progress = std::move(progress); }

std::string ServerSync::statePath() const { return impl_->options.statePath; }

std::string ServerSync::nextState() const {
    return impl_->engine ? impl_->engine->nextState() : std::string();
}

QUrl ServerSync::addressBookUrl() const { return impl_->addressBook; }

int ServerSync::requests() const { return impl_->client ? impl_->client->requests() : 0; }

std::string serverStatePath(const std::string& bookFolder, const ServerTarget& target,
                            const std::string& bookName) {
    QUrl url = target.url.adjusted(QUrl::RemoveUserInfo | QUrl::StripTrailingSlash);
    QByteArray who = url.toString(QUrl::FullyEncoded).toUtf8() + '\n' + target.user.toUtf8() +
                     '\n' + target.addressBook.toUtf8();
    if (bookName != "data.vlt") who += '\n' + QByteArray::fromStdString(bookName);
    const QByteArray hash = QCryptographicHash::hash(who, QCryptographicHash::Sha256).toHex();
    return bookFolder + "/.contavio-server-" + hash.left(16).toStdString();
}

QByteArray readTrustedCertificate(const std::string& bookFolder, const ServerTarget& target) {
    QFile file(QString::fromStdString(trustPath(bookFolder, target)));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QList<QByteArray> parts = file.readAll().trimmed().split(' ');
    if (parts.size() != 2 || QString::fromUtf8(parts[0]) != target.url.host()) return {};
    return normalizedFingerprint(parts[1]);
}

void keepTrustedCertificate(const std::string& bookFolder, const ServerTarget& target,
                            const QByteArray& sha256) {
    const QString path = QString::fromStdString(trustPath(bookFolder, target));
    const QByteArray line = target.url.host().toUtf8() + ' ' + normalizedFingerprint(sha256) + '\n';
    // Kept already, for the user alone: a sync that changes nothing writes nothing.
    if (QFile kept(path); kept.open(QIODevice::ReadOnly) && kept.readAll() == line &&
                          kept.permissions() == (QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ReadUser | QFileDevice::WriteUser))
        return;
    QSaveFile file(path);
    // The mode goes on the file being written, which replaces the old one.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(line) < 0 || !file.commit()) {
        throw ServerError(u("No se pudo guardar %1: %2").arg(path, file.errorString()));
    }
}

}  // namespace contavio
