// The window's sync with the account's CardDAV server. The book's contacts
// are taken on the GUI thread, the sync runs on a worker thread while the
// window stays usable, and its changes come back to the GUI thread, where
// they go into the book (slot 0 of gConjuntos) and the results are shown
// again. A contact the user changed, added or deleted while the sync ran
// keeps the user's version; that sync is then not committed, so the next
// one merges the two.
//
// Order, as the sync engine requires: run, the book takes the changes, the
// book is saved (close-down), then commitAfterSave() writes the sync state.
//
// While it runs, status() tells how many cards of a long step were read or
// sent so far. Only a sync the user asked for answers in a message box; the others tell
// what they did in status(), which never waits for anybody.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "book/ServerAccount.h"

namespace contavio {

struct SyncProgress;

class ServerSyncRunner : public QObject {
    Q_OBJECT
  public:
    // refresh: shows the results again after the book took changes.
    ServerSyncRunner(std::function<void()> refresh, QObject* parent = nullptr);
    // Cancels a running sync and waits for its worker (the window is gone
    // by then), which ends within moments.
    ~ServerSyncRunner() override;

    // The password typed in the account dialog, kept for this session when
    // the secret store could not keep it; empty: read from the secret store.
    void setSessionPassword(const QString& password) { sessionPassword_ = password; }

    enum class Mode {
        Background,  // after start-up: the outcome goes to status()
        Asked,       // "Sincronizar ahora": the outcome is told in a message box
        Closing,     // at close, after the save: the outcome goes to status()
    };
    // Starts a sync of the book in bookFolder with the account, unless one
    // runs (then false). The book's lock is held by the window throughout.
    // Without a password (none typed, none in the secret store) only an asked
    // sync goes on, to say so; the others do not run, and say why in status().
    bool start(const ServerAccount& account, const std::string& bookFolder, Mode mode);
    bool running() const { return job_ != nullptr; }
    // Waits until the running sync ends or msecs pass, keeping events going;
    // a sync that ends is taken into the book. True when none runs now.
    bool wait(int msecs);
    // Close-down has begun: from now on an asked sync's outcome goes to
    // status() too, as nobody is there to read a message box.
    void closeDown() { closing_ = true; }
    // Close-down stops waiting: a sync still running is cancelled (its
    // request under way aborted), and neither its changes nor anything it
    // says reach the book being saved. No sync starts after this.
    void stopTaking();
    // After the book was saved: writes the state of the last sync that the
    // book took in full. Returns what went wrong, or an empty text.
    QString commitAfterSave();
    // How many times a sync changed the book's contacts so far.
    int changesTaken() const { return changesTaken_; }
    // Why the last sync that ended or did not run failed, or an empty text.
    const QString& failure() const { return failure_; }

  signals:
    // A sync ended and its outcome was taken and told.
    void finished();
    // A line on the sync for the window's status: running, done, or what
    // went wrong (one line; the whole text in detail).
    void status(const QString& line, const QString& detail);

  private:
    struct Job;
    void take(const std::shared_ptr<Job>& job);
    void progressed(const std::shared_ptr<Job>& job, const SyncProgress& progress);
    void tell(const QString& text);

    std::function<void()> refresh_;
    QString sessionPassword_;
    std::shared_ptr<Job> job_;          // the running sync, or none
    std::shared_ptr<Job> committable_;  // the last sync taken in full, awaiting the save
    bool stopped_ = false;
    bool closing_ = false;
    int changesTaken_ = 0;
    QString failure_;
};

}  // namespace contavio
