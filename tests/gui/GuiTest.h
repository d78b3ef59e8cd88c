// The fixture of the window tests: each test runs in a temporary working
// folder of its own (the program's files are relative names), message boxes
// are captured instead of shown, and helpers drive the real widgets by their
// object names and read what a person would see.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/Credits.h"
#include "app/Dialogs.h"
#include "app/Main.h"

// Readable failures for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '[';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        *out << (i > 0 ? ", " : "") << '"' << texts[i].toStdString() << '"';
    }
    *out << ']';
}

namespace contavio::testing {

// A Windows-1252 text, written with escapes ("D\xED" "a"), as the widgets show it.
QString q(const char* bytes);

// A contact as a test writes it into a legacy file or reads it back from the
// store. Texts are Windows-1252 bytes.
struct Contact {
    std::string firstNames;
    std::string surnames;
    std::string address = "n/a";
    std::string web = "n/a";
    std::string day =
        "D\xED"
        "a";
    std::string month = "Mes";
    std::string notes = "n/a";
    std::vector<std::string> phones;  // as the file or the store lists them
    std::vector<std::string> emails;
};

Contact person(const std::string& firstNames, const std::string& surnames,
               const std::string& address = "n/a");

// A database file read back through the store.
struct Book {
    bool loaded = false;
    std::string name;
    int32_t data = -1;
    int32_t keyField = -1;
    int32_t count = -1;
    int32_t nStr = -1;
    int32_t nStrList = -1;
    std::map<std::string, Contact> contacts;  // by key
};

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the program in the working folder: builds the main window (which
    // runs start-up) and the hidden credits window, and shows the main one.
    TForm1& start();
    // Closes the main window as "Programa" > "Salir" does, then drops both
    // windows.
    void quit();
    TForm1& form() { return *form_; }
    TForm2& credits() { return *credits_; }

    // Widgets by object name; a missing one fails the test.
    template <class W>
    W* find(const char* name) {
        W* widget = form_->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* edit(const char* name) { return find<QLineEdit>(name); }
    QListWidget* list(const char* name) { return find<QListWidget>(name); }
    // Any list: the editor's list boxes and the results list.
    QAbstractItemView* view(const char* name) { return find<QAbstractItemView>(name); }
    QComboBox* combo(const char* name) { return find<QComboBox>(name); }
    QPlainTextEdit* memo() { return find<QPlainTextEdit>("Memo1"); }
    QLabel* label(const char* name) { return find<QLabel>(name); }

    // Replaces a field's text by typing, as a person does.
    void type(QWidget* field, const QString& text);
    void type(const char* editName, const QString& text) { type(edit(editName), text); }
    // Erases a field (select all, Delete).
    void erase(QWidget* field);
    void click(const char* buttonName);
    void menu(const char* actionName);
    // Clicks a line of a list box with the mouse.
    void clickLine(const char* listName, int row);

    // The lines a list box shows.
    QStringList lines(const char* listName);
    // The texts of the plain message boxes shown so far.
    QStringList messages() const;
    // Questions shown so far (boxes with choices).
    std::vector<MessageRequest> questions() const;
    void forgetMessages() { shown_.clear(); }

    // Answers the next question boxes; an unanswered question takes its last
    // choice and fails the test.
    std::deque<std::function<int(const MessageRequest&)>> answers;

    // Fills the editor and saves it with "Contactos" > "Agregar".
    void addContact(const QString& firstNames, const QString& surnames,
                    const QString& address = QString(), const QStringList& phones = {},
                    const QStringList& emails = {});

    QString path(const char* name) const;

    // Before a death test forks: the threads Qt keeps for painting end, so
    // that the child, which has none of them, paints without them.
    static void readyToFork();

  private:
    QTemporaryDir dir_;
    QString previousFolder_;
    std::unique_ptr<TForm1> form_;
    std::unique_ptr<TForm2> credits_;
    std::vector<MessageRequest> shown_;
};

// Files of the working folder.
void writeBytes(const std::string& file, const std::string& bytes);
std::string readBytes(const std::string& file);
bool fileExists(const std::string& file);
// Names in the working folder that start with prefix.
std::vector<std::string> filesStartingWith(const std::string& prefix);

// A legacy plain-text file with the contact set's header and these contacts
// (lists in file order); `count` overrides the element count of line 1.
std::string legacyText(const std::vector<Contact>& contacts, int count = -1);
// Reads an encrypted database file through a set collection of its own.
Book readBook(const std::string& file, int32_t key = 853);
// The contact stored under key in slot 0 of gConjuntos (lists head first).
bool storedContact(const std::string& key, Contact& contact);
// What the store's reader says about a file, or "" when it reads in full.
std::string readError(const std::string& file, int32_t key = 853);

}  // namespace contavio::testing
