// Message boxes and the application title that captions them. Every message
// of the program, the store's included, goes through presentMessage, so a
// test can replace the modal boxes with its own presenter.
#pragma once

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

namespace contavio {

// The application title: the caption of every message box, and the main
// window's caption once a contact has been picked.
QString applicationTitle();
void setApplicationTitle(const QString& title);

struct MessageRequest {
    QString text;
    QStringList choices;  // empty: a plain message with one OK button
};

// Shows the request in a modal box captioned with the application title and
// returns the index of the choice taken (0 for a plain message).
int presentMessage(const MessageRequest& request);

using MessagePresenter = std::function<int(const MessageRequest&)>;
// Replaces the modal boxes; an empty presenter brings them back.
void setMessagePresenter(MessagePresenter presenter);

// The desktop's file dialogs, replaceable by tests like the message boxes.
struct FileRequest {
    bool save = false;  // a name to write (one), or files to read (several)
    QString caption;
    QString filter;     // "vCard (*.vcf *.vcard)"
    QString suggested;  // the name proposed for a save
};
// The files chosen; empty when the user cancelled.
QStringList chooseFiles(const FileRequest& request);
using FileChooser = std::function<QStringList(const FileRequest&)>;
// Replaces the file dialogs; an empty chooser brings them back.
void setFileChooser(FileChooser chooser);

// A plain message with one OK button.
void showMessageBox(const QString& text);

// Whether a message box or a file dialog is waiting for the user now.
bool waitingForUser();

// Shows a run-time error that escaped an event; never throws.
void reportError(const std::exception& error) noexcept;
void reportUnknownError() noexcept;

// Runs one event handler; an exception that escapes it is shown, the rest of
// the handler is skipped and the program goes on. True when f returned.
template <class F>
bool runGuarded(F&& f) noexcept {
    try {
        f();
        return true;
    } catch (const std::exception& error) {
        reportError(error);
    } catch (...) {
        reportUnknownError();
    }
    return false;
}

}  // namespace contavio
