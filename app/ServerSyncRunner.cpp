#include "ServerSyncRunner.h"

#include <QEventLoop>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "Dialogs.h"
#include "Main.h"
#include "book/Ansi.h"
#include "book/BookSync.h"
#include "book/ContactBook.h"
#include "book/ContactProto.h"
#include "book/ServerSync.h"
#include "book/Texts.h"

namespace contavio {

namespace {

// The window holds its lists as it shows them: head first.
constexpr ListOrder kShown = ListOrder::HeadFirst;

std::optional<ContactData> contactNow(const std::string& key) {
    ContactData contact;
    if (!readContact(*gConjuntos, kContactSlot, key, contact, kShown)) return std::nullopt;
    return contact;
}

QString summaryOf(const SyncReport& report) { return withCounts(ui(text::kSyncSummary), report); }

QString linesOf(const std::vector<std::string>& lines) {
    QString text;
    for (const std::string& line : lines) text += QStringLiteral("\n") + fromAnsi(line);
    return text;
}

}  // namespace

// A sync and its worker thread. The thread owns the ServerSync from its run
// to its commit or its end, so that the sync's network objects live and die
// on the thread that made them; after run it waits to be told which.
struct ServerSyncRunner::Job {
    ServerAccount account;
    QString password;
    std::string bookFolder;
    Mode mode = Mode::Background;
    BookContacts snapshot;

    // The state a sync before left, its changes taken into the book but its
    // commit waiting for the save: this sync goes on from it.
    std::string pendingStatePath;
    std::optional<std::string> pendingState;

    // Set by the worker before it posts the outcome.
    std::string statePath, nextState;
    BookChanges changes;
    SyncReport report;
    QString error;
    QByteArray untrustedSha256;

    enum class After { Waiting, Commit, Drop };
    std::mutex mutex;
    std::condition_variable told;
    After after = After::Waiting;
    QString commitError;
    QThread* thread = nullptr;
    const std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);

    void tell(After what) {
        {
            const std::lock_guard lock(mutex);
            after = what;
        }
        told.notify_one();
    }
    void finish(After what) {
        tell(what);
        if (thread != nullptr) {
            thread->wait();
            delete thread;
            thread = nullptr;
        }
    }
    void work(ServerSyncRunner* runner, const std::shared_ptr<Job>& self);
};

void ServerSyncRunner::Job::work(ServerSyncRunner* runner, const std::shared_ptr<Job>& self) {
    std::unique_ptr<ServerSync> sync;
    try {
        if (error.isEmpty()) {
            ServerTarget target;
            target.url = account.server;
            target.user = account.user;
            target.password = password;
            target.addressBook = account.addressBook;
            // One trust for the window and the command line: a certificate
            // trusted in either is trusted in both, for this server only.
            target.trustedSha256 = account.trustedSha256.isEmpty()
                                       ? readTrustedCertificate(bookFolder, target)
                                       : account.trustedSha256;
            target.allowPlainHttp = account.allowPlainHttp;
            target.cancelled = cancelled;
            SyncOptions options;
            options.stored = storedForm(kShown);
            options.pendingState = pendingState;
            options.pendingStatePath = pendingStatePath;
            sync = std::make_unique<ServerSync>(target, bookFolder, options);
            // Told at each whole hundredth of a step and at its end, so that
            // a long sync does not flood the window's events.
            sync->setProgress([runner, self, shown = std::pair<bool, size_t>{false, SIZE_MAX}](
                                  const SyncProgress& progress) mutable {
                const std::pair<bool, size_t> now{
                    progress.sending, progress.done * 100 / std::max<size_t>(progress.total, 1)};
                if (now == shown && progress.done != progress.total) return;
                shown = now;
                QMetaObject::invokeMethod(
                    runner, [runner, self, progress] { runner->progressed(self, progress); },
                    Qt::QueuedConnection);
            });
            changes = sync->run(snapshot, report);
            statePath = sync->statePath();
            nextState = sync->nextState();
            if (!account.trustedSha256.isEmpty() &&
                readTrustedCertificate(bookFolder, target) != account.trustedSha256) {
                try {
                    keepTrustedCertificate(bookFolder, target, account.trustedSha256);
                } catch (const ServerError&) {
                    // The window's settings keep the trust; only the command
                    // line goes without it, and it asks as it always does.
                }
            }
        }
    } catch (const ServerError& failure) {
        error = failure.message();
        untrustedSha256 = failure.untrustedSha256();
    } catch (const std::exception& failure) {
        error = fromErrorText(failure.what());
    }
    password.fill(QLatin1Char(' '));
    QMetaObject::invokeMethod(
        runner, [runner, self] { runner->take(self); }, Qt::QueuedConnection);

    std::unique_lock lock(mutex);
    told.wait(lock, [this] { return after != After::Waiting; });
    if (after == After::Commit && sync) {
        try {
            sync->commit();
        } catch (const std::exception& failure) {
            commitError = fromErrorText(failure.what());
        }
    }
}

ServerSyncRunner::ServerSyncRunner(std::function<void()> refresh, QObject* parent)
    : QObject(parent), refresh_(std::move(refresh)) {}

ServerSyncRunner::~ServerSyncRunner() {
    if (committable_) committable_->finish(Job::After::Drop);
    // The worker may still talk to the server: cancelled, it ends within
    // moments, with the book already saved and let go.
    if (job_) {
        job_->cancelled->store(true);
        job_->finish(Job::After::Drop);
    }
}

void ServerSyncRunner::stopTaking() {
    stopped_ = true;
    if (job_) job_->cancelled->store(true);
}

bool ServerSyncRunner::start(const ServerAccount& account, const std::string& bookFolder,
                             Mode mode) {
    if (job_ || stopped_ || !gConjuntos) return false;
    auto job = std::make_shared<Job>();
    job_ = job;  // running from here: the store's answer below lets events in
    job->account = account;
    job->password = sessionPassword_;
    if (job->password.isEmpty()) {
        // The secret store is asked here: its queue lives on this thread.
        const SecretResult secret = readPassword(account);
        if (secret.status == SecretResult::Status::Ok) {
            job->password = secret.password;
        } else {
            job->error = secret.status == SecretResult::Status::NotFound ? ui(text::kNoPasswordKept)
                                                                         : secret.error;
        }
    }
    if (!gConjuntos || stopped_) {  // the book closed meanwhile
        job_.reset();
        return false;
    }
    if (!job->error.isEmpty() && mode != Mode::Asked) {
        // Nothing to show the server, and nobody who asked: said, not run.
        job_.reset();
        failure_ = job->error;
        tell(ui(text::kSyncNotRun) + job->error);
        return false;
    }
    job->bookFolder = bookFolder;
    job->mode = mode;
    job->snapshot = bookContacts(*gConjuntos, kShown);
    if (committable_ && !committable_->nextState.empty()) {
        job->pendingStatePath = committable_->statePath;
        job->pendingState = committable_->nextState;
    }
    job->thread = QThread::create([this, job] { job->work(this, job); });
    job->thread->start();
    tell(ui(text::kSyncRunning));
    return true;
}

bool ServerSyncRunner::wait(int msecs) {
    if (!job_) return true;
    QEventLoop loop;
    connect(this, &ServerSyncRunner::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(msecs, &loop, &QEventLoop::quit);
    loop.exec();
    return !job_;
}

QString ServerSyncRunner::commitAfterSave() {
    if (!committable_) return {};
    const std::shared_ptr<Job> job = std::move(committable_);
    job->finish(Job::After::Commit);
    if (job->commitError.isEmpty()) return {};
    return ui(text::kSyncStateNotSaved) + job->commitError;
}

void ServerSyncRunner::progressed(const std::shared_ptr<Job>& job, const SyncProgress& progress) {
    if (job != job_ || stopped_) return;  // a sync that ended meanwhile
    tell(ui(text::kSyncRunning) + QLatin1Char(' ') +
         ui(progress.sending ? text::kDavProgressSent : text::kDavProgressRead)
             .arg(progress.done)
             .arg(progress.total));
}

void ServerSyncRunner::tell(const QString& text) {
    emit status(text.section(QLatin1Char('\n'), 0, 0), text);
}

void ServerSyncRunner::take(const std::shared_ptr<Job>& job) {
    if (job_ == job) job_.reset();
    if (stopped_) {
        job->finish(Job::After::Drop);
        emit finished();
        return;
    }
    QString message;
    bool whole = false;
    failure_ = job->error;
    if (!job->error.isEmpty()) {
        message = ui(text::kSyncFailed) + job->error;
        if (!job->untrustedSha256.isEmpty()) message += ui(text::kSyncUntrustedAdvice);
        message += ui(text::kSyncCatchesUp);
    } else if (job->report.refused && !job->report.otherPlace.empty()) {
        message = ui(text::kSyncOtherPlace).arg(QString::fromStdString(job->report.otherPlace)) +
                  summaryOf(job->report) + ui(text::kSyncRefusedAdvice);
    } else if (job->report.refused) {
        message =
            ui(text::kSyncRefused) + linesOf(job->report.actions) + ui(text::kSyncRefusedAdvice);
    } else if (gConjuntos) {
        // A contact the user touched while the sync ran stays as the user left it.
        const auto stored = storedForm(kShown);
        whole = true;
        bool changed = false;
        const auto untouched = [&](const std::string& key) {
            const auto before = job->snapshot.find(key);
            const std::optional<ContactData> now = contactNow(key);
            const bool same = before == job->snapshot.end()
                                  ? !now.has_value()
                                  : now.has_value() && *now == before->second;
            whole = whole && same;
            return same;
        };
        for (const std::string& key : job->changes.remove) {
            if (!untouched(key)) continue;
            gConjuntos->delObj(kContactSlot, key);
            changed = true;
        }
        for (const ContactData& contact : job->changes.put) {
            if (!untouched(contactKeyOf(stored(contact)))) continue;
            storeContact(*gConjuntos, kContactSlot, contact, kShown);
            changed = true;
        }
        if (changed) ++changesTaken_;
        if (changed && refresh_) refresh_();
        if (job->mode == Mode::Asked) {
            message = ui(text::kSyncDone) + summaryOf(job->report) + linesOf(job->report.notes);
            if (!job->report.keptIn.empty())
                message += QStringLiteral("\n") + ui(text::kSyncKept) +
                           QString::fromLocal8Bit(job->report.keptIn);
            if (!whole) message += QStringLiteral("\n") + ui(text::kSyncTouched);
        } else if (job->report.conflicts > 0 || !job->report.notes.empty()) {
            message = ui(text::kSyncDone) + summaryOf(job->report) + linesOf(job->report.notes);
        }
    }
    if (whole) {
        if (committable_) committable_->finish(Job::After::Drop);
        committable_ = job;
    } else {
        job->finish(Job::After::Drop);
    }
    tell(message.isEmpty()
             ? ui(text::kSyncUpToDate).arg(QTime::currentTime().toString(QStringLiteral("HH:mm")))
             : message);
    emit finished();
    if (job->mode == Mode::Asked && !closing_ && !message.isEmpty()) showMessageBox(message);
}

}  // namespace contavio
