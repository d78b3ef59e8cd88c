// The book synced with an address book on a CardDAV server, through the sync
// engine (its guard, field-by-field merge, kept copies and dry run), shared
// by the command line and the window. Every call is synchronous, with an
// event loop of its own, and may run on a worker thread (one ServerSync per
// thread). Errors are said in Spanish, for a person.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "exchange/SyncEngine.h"

namespace contavio {

struct ServerTarget {
    QUrl url;  // http(s)://...: an address book, a principal, or the server
    QString user;
    QString password;             // never written anywhere by this unit
    QString addressBook;          // display name or last path segment; empty: the only one
    QByteArray trustedSha256;     // a certificate the user chose to trust (hex), or empty
    bool allowPlainHttp = false;  // send the password over http:// to another machine
    // Set from any thread to stop a sync in flight (close-down): the request
    // under way is aborted at once, a wait the server asked for ends, and the
    // sync fails with ServerError, leaving the book and the state as they were.
    std::shared_ptr<std::atomic<bool>> cancelled;
};

// What a probe of the server found ("Probar", and the start of a sync).
struct ProbeResult {
    bool ok = false;
    QString error;               // for a person: servidor no encontrado, contraseña incorrecta...
    QByteArray untrustedSha256;  // the fingerprint (hex) of a certificate refused, or empty
    QString passwordWithheldFrom;  // the origin the password was kept from, or empty
    QStringList addressBooks;      // display names found
    QUrl addressBookUrl;           // the one chosen
};

// Finds the address book: from the server's root through its well-known
// address, the current user's principal and its address-book home; the one
// named in the URL or in target.addressBook, or the only one the user may
// write. Several and none named: not ok, with the name of every one the
// user may write in addressBooks.
ProbeResult probeServer(const ServerTarget& target);

// How far a long step of a sync has come: the cards read from the server,
// or sent to it (written or deleted), of how many that step moves.
struct SyncProgress {
    bool sending = false;
    size_t done = 0, total = 0;
};
// Called on the thread that runs the sync or on one of its writers, one call
// at a time.
using ProgressReport = std::function<void(const SyncProgress&)>;

// A failure of the server sync; what() is the Spanish message, UTF-8.
class ServerError : public std::runtime_error {
  public:
    explicit ServerError(const QString& message, QByteArray untrustedSha256 = {},
                         QString passwordWithheldFrom = {})
        : std::runtime_error(message.toStdString()),
          untrustedSha256_(std::move(untrustedSha256)),
          passwordWithheldFrom_(std::move(passwordWithheldFrom)) {}
    QString message() const { return QString::fromUtf8(what()); }
    // The refused certificate's fingerprint (hex), when that was the failure.
    const QByteArray& untrustedSha256() const { return untrustedSha256_; }
    // The origin ("https://host:port") that asked for the password and was
    // not given it, the user not having confirmed it; or empty.
    const QString& passwordWithheldFrom() const { return passwordWithheldFrom_; }

  private:
    QByteArray untrustedSha256_;
    QString passwordWithheldFrom_;
};

// An answer over the size limit (HttpLimits::maxBytes).
class AnswerTooBig : public ServerError {
  public:
    using ServerError::ServerError;
};

// One sync with the server's address book: run(), then, after the caller
// stored the changes into the book and saved it, commit(). options: dryRun
// and forceDelete; its places are filled in here (serverStatePath).
class ServerSync {
  public:
    ServerSync(ServerTarget target, const std::string& bookFolder, SyncOptions options);
    ~ServerSync();

    // Throws ServerError; the book, the server's cards and the state are
    // then as they were, or hold whole cards only, and a re-run completes.
    BookChanges run(const BookContacts& book, SyncReport& report);
    void commit();
    // Told how far run() has come while it reads or sends many cards.
    void setProgress(ProgressReport progress);

    // After run(): the state file of this sync, and the state commit()
    // would write there ("" when it would write none), for a caller that
    // commits later and syncs again before (SyncOptions::pendingState).
    std::string statePath() const;
    std::string nextState() const;

    // The address book used, once run() found it.
    QUrl addressBookUrl() const;
    // The requests sent to the server by the last run().
    int requests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The state file beside the book for this server and user (like the folder
// sync's), mode 0600: ".contavio-server-<hash of the address and the user>",
// and of the book's file name for a book not named "data.vlt".
std::string serverStatePath(const std::string& bookFolder, const ServerTarget& target,
                            const std::string& bookName = "data.vlt");

// The certificate the user chose to trust for this server, kept beside its
// state (mode 0600) with the host it was trusted for: empty when none, or
// when it was trusted for another host.
QByteArray readTrustedCertificate(const std::string& bookFolder, const ServerTarget& target);
// Keeps it (hex SHA-256). Throws ServerError when the file cannot be written.
void keepTrustedCertificate(const std::string& bookFolder, const ServerTarget& target,
                            const QByteArray& sha256);

}  // namespace contavio
