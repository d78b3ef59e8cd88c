// The book in the main window: start-up reads it (or starts a new one)
// under its lock, close-down saves it, retrying until it is saved or the
// user chooses to leave, and the window's own opening and closing around
// them. A termination signal saves without asking anybody.
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "Application.h"
#include "BusyNotice.h"
#include "Credits.h"
#include "Dialogs.h"
#include "Look.h"
#include "Main.h"
#include "ServerSyncRunner.h"
#include "book/Ansi.h"
#include "book/BookFiles.h"
#include "book/BookSync.h"
#include "book/ContactProto.h"
#include "book/Texts.h"
#include "persistence/FileAside.h"

namespace contavio {

namespace {

// What a close-down without a window to show it in has to say.
void tellOnTerminal(const QString& text) {
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

TForm1::~TForm1() {
    if (!closedDown_) {
        gConjuntos.reset();
        gResultTexts.reset();
        gResultKeys.reset();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (closingDown_ && !closedDown_) {
        event->ignore();  // close-down is under way (its sync, its question)
        return;
    }
    handle(&TForm1::FormClose);
    closedDown_ = true;  // the program ends even if close-down failed
    if (credits_ != nullptr) {
        credits_->close();
    }
    event->accept();
}

void TForm1::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        centreOnScreen(this);
        // The window is on screen and usable before the server is asked.
        QTimer::singleShot(0, this, [this] { handle(&TForm1::syncAfterStartUp); });
    }
    QMainWindow::showEvent(event);
}

// Once the window is on screen, the work that start-up's listing left to the
// next search (laying the search cache out in listing order) is done in the
// time before the user's first search. The layout it replaces goes back to
// the heap, whose free pages are then handed back to the system.
bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::Paint && !painted_) {
        painted_ = true;
        QTimer::singleShot(0, this, [this] {
            if (!contactSetReady()) return;
            gConjuntos->settleSearch(kContactSlot);
#if defined(__GLIBC__)
            ::malloc_trim(0);
#endif
        });
    }
    return QMainWindow::event(event);
}

// ---------------------------------------------------------------------------
// Start-up and close-down

void TForm1::FormCreate() {
    book_ = std::make_unique<BookFiles>();
    if (book_->lock() == BookLock::State::Busy) {
        // Another program has this book: touch no file and no state, say who and end.
        bookBusy_ = true;
        closedDown_ = true;
        const QString busy = book_->busyMessage();
        std::fprintf(stderr, "%s\n", busy.toLocal8Bit().constData());
        showMessageBox(busy);
        return;
    }

    gCurrentKey.clear();
    gResultTexts.reset();
    gResultKeys.reset();

    for (int day = 1; day <= 31; ++day) {
        ComboBox1->addItem(QString::number(day));
    }
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(ui(text::kDayPrompt));  // a prompt, not an item
    for (const char* month : text::kMonths) {
        ComboBox2->addItem(ui(month));
    }
    ComboBox2->setCurrentIndex(-1);
    ComboBox2->setEditText(ui(text::kMonthPrompt));

    gConjuntos = std::make_unique<TConjuntos>(1);
    loadContacts();
    serverSync_ = new ServerSyncRunner([this] { refreshResults(); }, this);
    connect(serverSync_, &ServerSyncRunner::status, this,
            [this](const QString& line, const QString& detail) { showSyncStatus(line, detail); });
}

void TForm1::loadContacts() {
    QString message;
    {
        const BusyNotice notice(ui(text::kOpening), nullptr,
                                book_->sourceBytes() >= kBusyBookBytes);
        message = book_->load(*gConjuntos, kContactSlot);
    }
    if (!message.isEmpty()) showMessageBox(message);
    if (!gConjuntos->isEmpty(kContactSlot)) {
        refreshResults();
    } else {
        createContactSet();
    }
}

void TForm1::createContactSet() {
    gConjuntos->newSet(kContactSlot, kContactBuckets, kContactTag, kContactSetName, kKeyField);
    gConjuntos->setSetProto(kContactSlot, contactProto());
}

bool TForm1::contactSetReady() const {
    return gConjuntos != nullptr && !gConjuntos->isEmpty(kContactSlot);
}

void TForm1::FormClose() {
    if (closedDown_ || closingDown_) {
        return;  // a signal while the save shows its note closes nothing twice
    }
    closingDown_ = true;
    if (serverSync_ != nullptr) serverSync_->closeDown();
    // The book is saved before the server is asked: a close-down cut short
    // (log-out, a second signal) finds the session's edits on the disk.
    const bool ready = contactSetReady();
    bool saved = true;
    if (ready && signalled_) {
        if (serverSync_ != nullptr) serverSync_->stopTaking();
        saved = saveWithoutAsking();
    } else if (ready) {
        saved = saveContacts() && syncAtClose();
    }
    if (serverSync_ != nullptr) serverSync_->stopTaking();
    if (ready && saved) commitServerSync();
    // Freeing a large book takes a moment: not with a frozen window on screen.
    hide();
    if (saved && endsProcessAfterCloseDown()) {
        // The process ends right after this: the book is written, and only
        // memory is left, which the system takes back at once.
        if (book_) book_->unlock();
        static_cast<void>(gConjuntos.release());
        closedDown_ = true;
        return;
    }
    gConjuntos.reset();
    gResultTexts.reset();
    gResultKeys.reset();
    if (book_) book_->unlock();
    closedDown_ = true;
}

// Saves until it succeeds or the user chooses to leave without saving; then
// nothing is deleted.
bool TForm1::saveContacts() {
    for (;;) {
        QString reason;
        try {
            QString message;
            {
                const BusyNotice notice(
                    ui(text::kSaving), this,
                    countHashE(gConjuntos->sets[kContactSlot]) >= kBusyBookContacts);
                message = book_->save(*gConjuntos, kContactSlot);
            }
            if (!message.isEmpty()) showMessageBox(message);
            return true;
        } catch (const std::exception& error) {
            reason = fromErrorText(error.what());
        } catch (...) {
            reason = ui(text::kUnknownError);
        }
        const QString question =
            ui(text::kSaveFailed) + QString::fromLocal8Bit(book_->saveTarget()) +
            QStringLiteral(":\n") + reason + QStringLiteral("\n\n") + ui(text::kSaveFailedAdvice);
        const int choice =
            presentMessage({question, {ui(text::kRetry), ui(text::kLeaveWithoutSaving)}});
        if (choice != 0) {
            return false;
        }
    }
}

bool TForm1::saveWithoutAsking() {
    QString reason;
    try {
        const QString said = book_->save(*gConjuntos, kContactSlot);
        if (!said.isEmpty()) tellOnTerminal(said);
        return true;
    } catch (const std::exception& error) {
        reason = fromErrorText(error.what());
    } catch (...) {
        reason = ui(text::kUnknownError);
    }
    const QString failed = QString::fromLocal8Bit(book_->saveTarget());
    tellOnTerminal(ui(text::kSaveFailed) + failed + QStringLiteral(": ") + reason);
    const QString folders[] = {QString::fromLocal8Bit(bookFolderOf(book_->dataFile())),
                               QDir::homePath()};
    for (const QString& folder : folders) {
        const std::string target = freshName(
            QDir(folder).filePath(QStringLiteral("data.vlt.new")).toLocal8Bit().toStdString());
        try {
            gConjuntos->saveCrypt(target, kContactSlot, kCipherKey);
            tellOnTerminal(
                ui(text::kSavedAsideOnSignal).arg(QString::fromLocal8Bit(target), failed));
            return true;
        } catch (...) {
            // The next place, then.
        }
    }
    tellOnTerminal(ui(text::kNotSavedOnSignal));
    return false;
}

void TForm1::closeOnSignal() {
    if (closedDown_) return;
    if (closingDown_ || waitingForUser()) saveAndEnd();
    signalled_ = true;
    close();
}

void TForm1::saveAndEnd() {
    // The sync under way is left to the server's next one, and the event
    // handler that waits on the question never goes on.
    if (serverSync_ != nullptr) serverSync_->stopTaking();
    const bool saved = !contactSetReady() || saveWithoutAsking();
    if (saved && serverSync_ != nullptr) {
        const QString unsaved = serverSync_->commitAfterSave();
        if (!unsaved.isEmpty()) tellOnTerminal(unsaved);
    }
    if (book_) book_->unlock();
    endProcess(saved ? 0 : 1);
}

}  // namespace contavio
