// The main window and the application's state and life: start-up loads the
// contacts into slot 0 of gConjuntos, the window's events edit and search
// them, and close-down saves them to "data.vlt". The controls are built in
// Main.cpp, the events are in MainEvents.cpp, start-up and close-down in
// MainLifecycle.cpp.
#pragma once

#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>

#include "engine/Conjuntos.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace contavio {

class BookFiles;
class ResultsModel;
class ServerSyncRunner;
class TForm2;

// The one set collection, with one slot (the contacts). Made by start-up,
// freed by close-down.
extern std::unique_ptr<TConjuntos> gConjuntos;
// The contact last added, changed or picked: the one that "Eliminar" deletes.
extern std::string gCurrentKey;
// Display texts and keys of the current results, line for line as the
// results list shows them; none before a search and after one without results.
extern std::optional<sVector> gResultTexts;
extern std::optional<sVector> gResultKeys;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // Builds the window and runs start-up (FormCreate): fills the birthday
    // pickers and loads the contacts of the working directory.
    explicit TForm1(QWidget* parent = nullptr);
    // Frees gConjuntos without saving if no close-down ran.
    ~TForm1() override;

    // The credits window that the menu shows (borrowed; may be none).
    void setCreditsWindow(TForm2* credits);

    // Searches slot 0 for the search field's text and shows the results.
    void refreshResults();
    // Loads the contact with that key into the editor; an unknown key
    // changes nothing.
    void showContact(const std::string& key);

    // True once close-down has run: the contacts are saved (or the user chose
    // to leave without saving) and gConjuntos is gone.
    bool closedDown() const { return closedDown_; }
    // True when start-up found the book open in another program: the window
    // read and wrote nothing, and is not to be shown.
    bool bookBusy() const { return bookBusy_; }

    // A termination signal: closes the window as "Salir" does, but without a
    // sync and without a question. While a question waits for the user, or
    // once close-down is under way, nobody is there to answer or wait: the
    // book is saved at once (in a new file when it cannot be saved in its
    // own) and the process ends.
    void closeOnSignal();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void createMenus();
    void createEditor(QWidget* client);
    void createPanels(QWidget* client);
    void createResults(QWidget* client);
    void arrangeTabOrder();

    // Runs one of the window's events; an exception skips its rest.
    void handle(void (TForm1::*event)());

    // Events.
    void FormCreate();
    void FormClose();
    void Salir1Click();
    void Importar1Click();
    void Exportar1Click();
    void CuentaCardDAV1Click();
    void Sincronizar1Click();
    void Agregar1Click();
    void Modificar1Click();
    void Borrar1Click();
    void Crditos1Click();
    void Button1Click();
    void Button5Click();
    void Button2Click();
    void Button6Click();
    void Button3Click();
    void ListBox3Click();

    // Start-up and close-down helpers.
    void loadContacts();
    void createContactSet();
    bool saveContacts();
    // One save with no question: when the book's file cannot be written, the
    // contacts go to a new file beside it or in the home folder. What it did
    // goes to standard error. False when nothing could be written.
    bool saveWithoutAsking();
    [[noreturn]] void saveAndEnd();
    bool contactSetReady() const;
    // The CardDAV account's sync (MainServer.cpp): after start-up, on
    // "Sincronizar ahora", and at close, after the save, within a few
    // seconds; what it brings is saved too. False when that second save
    // failed and the user chose to leave without it.
    void syncAfterStartUp();
    bool syncAtClose();
    void commitServerSync();
    // The line below the window that says how the sync goes; none until
    // there is an account.
    void showSyncStatus(const QString& line, const QString& detail);

    // The first editor field holding text the book cannot keep, told to the
    // user; false when every field can be kept.
    bool refuseUnkeepableText();

    // Menu.
    QMenu* Programa1 = nullptr;
    QAction* Importar1 = nullptr;
    QAction* Exportar1 = nullptr;
    QAction* CuentaCardDAV1 = nullptr;
    QAction* Sincronizar1 = nullptr;
    QAction* Salir1 = nullptr;
    QMenu* Contactos1 = nullptr;
    QAction* Agregar1 = nullptr;
    QAction* Modificar1 = nullptr;
    QAction* Borrar1 = nullptr;
    QAction* Crditos1 = nullptr;

    // The contact editor.
    QGroupBox* GroupBox1 = nullptr;
    QLineEdit* LabeledEdit1 = nullptr;
    QLineEdit* LabeledEdit2 = nullptr;
    QLineEdit* LabeledEdit5 = nullptr;
    QLineEdit* LabeledEdit3 = nullptr;
    QLabel* Label10 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLabel* Label3 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QLabel* Label8 = nullptr;
    QListWidget* ListBox2 = nullptr;
    QLabel* Label9 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;

    // The telephone, e-mail and search panels.
    QGroupBox* GroupBox2 = nullptr;
    QLineEdit* LabeledEdit4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button5 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLineEdit* LabeledEdit6 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button6 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLineEdit* LabeledEdit7 = nullptr;
    QPushButton* Button3 = nullptr;

    // The results.
    QLabel* Label11 = nullptr;
    QListView* ListBox3 = nullptr;
    ResultsModel* results_ = nullptr;  // the lines of ListBox3
    QLabel* Label1 = nullptr;

    TForm2* credits_ = nullptr;
    bool centred_ = false;
    bool painted_ = false;
    bool closedDown_ = false;
    bool closingDown_ = false;
    bool signalled_ = false;  // a termination signal closes the window
    QLabel* syncStatus_ = nullptr;

    // The book's files and their lock; none before start-up.
    std::unique_ptr<BookFiles> book_;
    bool bookBusy_ = false;
    ServerSyncRunner* serverSync_ = nullptr;  // owned as a child
};

}  // namespace contavio
