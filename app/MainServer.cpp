// The main window and the CardDAV account: "Programa" > "Cuenta CardDAV..."
// and "Sincronizar ahora", the sync after start-up and the one after the
// save at close, and the line below the window that says how they go. The
// sync itself runs in ServerSyncRunner.
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <cstdio>

#include "AccountDialog.h"
#include "Dialogs.h"
#include "Main.h"
#include "ServerSyncRunner.h"
#include "book/Ansi.h"
#include "book/BookFiles.h"
#include "book/BookSync.h"
#include "book/Texts.h"

namespace contavio {

namespace {

// How long close-down waits for the server after the save: a server out of
// reach delays the end of the program by no more than this.
constexpr int kCloseSyncMsecs = 6000;

}  // namespace

void TForm1::CuentaCardDAV1Click() {
    if (auto* open = findChild<AccountDialog*>()) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new AccountDialog(loadServerAccount(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (serverSync_ != nullptr) serverSync_->setSessionPassword(dialog->password());
    });
    dialog->open();
}

void TForm1::Sincronizar1Click() {
    const ServerAccount account = loadServerAccount();
    if (!account.isSet()) {
        showMessageBox(ui(text::kNoAccount));
        return;
    }
    if (serverSync_ == nullptr || gConjuntos == nullptr || !book_) return;
    if (!serverSync_->start(account, bookFolderOf(book_->dataFile()),
                            ServerSyncRunner::Mode::Asked)) {
        showMessageBox(ui(text::kSyncBusy));
    }
}

void TForm1::syncAfterStartUp() {
    if (bookBusy_ || closedDown_ || gConjuntos == nullptr || !book_) return;
    const ServerAccount account = loadServerAccount();
    if (!account.isSet()) return;
    serverSync_->start(account, bookFolderOf(book_->dataFile()),
                       ServerSyncRunner::Mode::Background);
}

bool TForm1::syncAtClose() {
    if (serverSync_ == nullptr || gConjuntos == nullptr || !book_) return true;
    const ServerAccount account = loadServerAccount();
    if (!account.isSet()) return true;
    // The window waits with the user: nothing more is typed into the book
    // the sync is working on.
    centralWidget()->setEnabled(false);
    menuBar()->setEnabled(false);
    const int taken = serverSync_->changesTaken();
    QElapsedTimer clock;
    clock.start();
    // A sync still running (the one after start-up, or one asked for) is
    // taken first; the last one then sends what the window changed since.
    if (serverSync_->wait(kCloseSyncMsecs)) {
        const int left = kCloseSyncMsecs - static_cast<int>(clock.elapsed());
        if (left > 0 && serverSync_->start(account, bookFolderOf(book_->dataFile()),
                                           ServerSyncRunner::Mode::Closing)) {
            serverSync_->wait(left);
        }
    }
    serverSync_->stopTaking();  // the save must not meet a late answer
    // Nobody is left to read a message: said where a terminal or the
    // session's log keeps it, and the next sync catches up.
    if (!serverSync_->failure().isEmpty())
        std::fprintf(stderr, "%s\n",
                     (ui(text::kSyncFailed) + serverSync_->failure()).toLocal8Bit().constData());
    return serverSync_->changesTaken() == taken || saveContacts();
}

void TForm1::commitServerSync() {
    if (serverSync_ == nullptr) return;
    const QString unsaved = serverSync_->commitAfterSave();
    if (!unsaved.isEmpty()) std::fprintf(stderr, "%s\n", unsaved.toLocal8Bit().constData());
}

void TForm1::showSyncStatus(const QString& line, const QString& detail) {
    if (syncStatus_ == nullptr) {
        syncStatus_ = new QLabel(this);
        syncStatus_->setObjectName(QStringLiteral("SyncStatus"));
        statusBar()->addWidget(syncStatus_, 1);
    }
    syncStatus_->setText(line);
    syncStatus_->setToolTip(detail == line ? QString() : detail);
}

}  // namespace contavio
