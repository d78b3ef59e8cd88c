#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

#include "book/Ansi.h"
#include "book/Texts.h"

namespace contavio {

namespace {

QString& titleStorage() {
    static QString title = ui(text::kAppTitle);
    return title;
}

MessagePresenter& presenterStorage() {
    static MessagePresenter presenter;
    return presenter;
}

int showModalBox(const MessageRequest& request) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(applicationTitle());
    box.setText(request.text);
    box.setWindowModality(Qt::ApplicationModal);
    if (request.choices.isEmpty()) {
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return 0;
    }
    box.setIcon(QMessageBox::Warning);
    QList<QAbstractButton*> buttons;
    for (const QString& choice : request.choices) {
        buttons.append(box.addButton(choice, QMessageBox::AcceptRole));
    }
    // Escape takes the first choice, the one that loses nothing.
    box.setEscapeButton(buttons.first());
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    const auto index = buttons.indexOf(box.clickedButton());
    return index < 0 ? 0 : static_cast<int>(index);
}

FileChooser& chooserStorage() {
    static FileChooser chooser;
    return chooser;
}

// The boxes and dialogs open now, one inside another.
int gWaiting = 0;

struct Waiting {
    Waiting() { ++gWaiting; }
    ~Waiting() { --gWaiting; }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;
};

}  // namespace

QStringList chooseFiles(const FileRequest& request) {
    const Waiting waiting;
    if (chooserStorage()) return chooserStorage()(request);
    QWidget* parent = QApplication::activeWindow();
    if (request.save) {
        const QString file = QFileDialog::getSaveFileName(parent, request.caption,
                                                          request.suggested, request.filter);
        return file.isEmpty() ? QStringList() : QStringList{file};
    }
    return QFileDialog::getOpenFileNames(parent, request.caption, QString(), request.filter);
}

void setFileChooser(FileChooser chooser) { chooserStorage() = std::move(chooser); }

QString applicationTitle() { return titleStorage(); }

void setApplicationTitle(const QString& title) { titleStorage() = title; }

int presentMessage(const MessageRequest& request) {
    const Waiting waiting;
    if (presenterStorage()) {
        return presenterStorage()(request);
    }
    return showModalBox(request);
}

void setMessagePresenter(MessagePresenter presenter) { presenterStorage() = std::move(presenter); }

void showMessageBox(const QString& text) { presentMessage({text, {}}); }

bool waitingForUser() { return gWaiting > 0 || QApplication::activeModalWidget() != nullptr; }

void reportError(const std::exception& error) noexcept {
    try {
        showMessageBox(fromErrorText(error.what()));
    } catch (...) {
        // The box itself failed; standard error is all that is left.
        std::fprintf(stderr, "%s\n", error.what());
    }
}

void reportUnknownError() noexcept {
    try {
        showMessageBox(ui(text::kUnknownError));
    } catch (...) {
        std::fprintf(stderr, "%s\n", text::kUnknownError);
    }
}

}  // namespace contavio
