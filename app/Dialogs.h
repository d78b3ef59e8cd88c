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

// A plain message with one OK button.
void showMessageBox(const QString& text);

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
