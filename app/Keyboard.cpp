#include "Keyboard.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>

namespace contavio {

namespace {

template <class W>
W* child(QWidget* window, const char* name) {
    return window->findChild<W*>(QString::fromLatin1(name));
}

}  // namespace

void addKeyboardUse(QWidget* window) {
    // Return in a field presses the button that goes with it.
    const std::pair<const char*, const char*> fieldButtons[] = {
        {"LabeledEdit4", "Button1"}, {"LabeledEdit6", "Button2"}, {"LabeledEdit7", "Button3"}};
    for (const auto& [field, button] : fieldButtons) {
        auto* edit = child<QLineEdit>(window, field);
        auto* push = child<QPushButton>(window, button);
        if (edit != nullptr && push != nullptr) {
            QObject::connect(edit, &QLineEdit::returnPressed, push, &QPushButton::click);
        }
    }
    // A focused button takes Return as well as Space.
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        button->setAutoDefault(true);
    }

    // Shortcuts on the window, not on the menu entries, whose captions show
    // exactly their own texts.
    if (auto* quit = child<QAction>(window, "Salir1")) {
        QObject::connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), window),
                         &QShortcut::activated, quit, &QAction::trigger);
    }
    if (auto* search = child<QLineEdit>(window, "LabeledEdit7")) {
        QObject::connect(new QShortcut(QKeySequence::Find, window), &QShortcut::activated, search,
                         [search] {
                             search->setFocus(Qt::ShortcutFocusReason);
                             search->selectAll();
                         });
    }
    if (auto* button = child<QPushButton>(window, "Button3")) {
        QObject::connect(new QShortcut(QKeySequence(Qt::Key_F5), window), &QShortcut::activated,
                         button, &QPushButton::click);
    }
}

}  // namespace contavio
