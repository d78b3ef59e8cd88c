// The main window's events: the editor's "Agregar", "Modificar" and
// "Eliminar", the telephone and e-mail lists, the search and the pick of a
// result, the vCard menu entries and the credits.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalBlocker>

#include "Credits.h"
#include "Dialogs.h"
#include "Main.h"
#include "ResultsModel.h"
#include "book/Ansi.h"
#include "book/ContactBook.h"
#include "book/ContactProto.h"
#include "book/Texts.h"
#include "book/VCardFiles.h"
#include "engine/basicOps.h"

namespace contavio {

namespace {

// The selected row of a list view, or -1.
int selectedRow(const QAbstractItemView* view) {
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

// The lines of a list box as the store fills them. Signals stay blocked
// while it is filled, so clearing the results list picks nothing.
class ListBoxLines : public LineList {
  public:
    explicit ListBoxLines(QListWidget* box) : box_(box) {}
    ~ListBoxLines() override {
        if (depth_ > 0) {
            depth_ = 1;
            endUpdate();
        }
    }
    ListBoxLines(const ListBoxLines&) = delete;
    ListBoxLines& operator=(const ListBoxLines&) = delete;

    void beginUpdate() override {
        if (depth_++ == 0) {
            wasBlocked_ = box_->blockSignals(true);
            box_->setUpdatesEnabled(false);
        }
    }
    void clear() override {
        pending_.clear();
        box_->clear();
    }
    // Inside an update, lines are gathered and go into the box at its end in
    // one insertion: one by one, a large listing would lay the box out again
    // for every line.
    void add(const std::string& line) override {
        if (depth_ > 0) {
            pending_.append(fromAnsi(line));
        } else {
            box_->addItem(fromAnsi(line));
        }
    }
    void endUpdate() override {
        if (depth_ > 0 && --depth_ == 0) {
            if (!pending_.isEmpty()) box_->addItems(pending_);
            pending_.clear();
            box_->setUpdatesEnabled(true);
            box_->blockSignals(wasBlocked_);
        }
    }

  private:
    QListWidget* box_;
    int depth_ = 0;
    bool wasBlocked_ = false;
    QStringList pending_;
};

void fillListBox(QListWidget* box, const sVector& items) {
    ListBoxLines lines(box);
    lines.beginUpdate();
    lines.clear();
    for (const std::string& item : items) {
        lines.add(item);
    }
    lines.endUpdate();
}

void removeSelectedLine(QListWidget* box) {
    const int row = selectedRow(box);
    if (row < 0) {
        return;
    }
    delete box->takeItem(row);
    box->clearSelection();  // the next line does not become selected
}

// A memo's text as the store keeps it: lines end with CR LF.
std::string memoText(const QPlainTextEdit* memo) {
    QString text = memo->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return toAnsi(text);
}

const std::string& fieldOf(const sVector& fields, int32_t index) {
    static const std::string none;
    return static_cast<size_t>(index) < fields.size() ? fields[static_cast<size_t>(index)] : none;
}

}  // namespace

void TForm1::handle(void (TForm1::*event)()) {
    runGuarded([this, event] { (this->*event)(); });
}

// ---------------------------------------------------------------------------
// Results and the editor

void TForm1::refreshResults() {
    if (!contactSetReady()) {
        return;
    }
    const iVector fields = {kFirstNamesField, kSurnamesField, kAddressField};
    const QString text = LabeledEdit7->text();
    // A character the book cannot hold is in no contact: searching no field
    // finds nothing, where its '?' would match every '?'.
    const bool findable = outsideAnsi(text).isEmpty();
    gConjuntos->search(kContactSlot, toAnsi(text), findable ? fields : iVector{}, fields);
    {
        // Refilling the list picks nothing.
        const QSignalBlocker quiet(ListBox3->selectionModel());
        gConjuntos->listResults(kContactSlot, results_->lines(), gResultTexts, gResultKeys);
    }
    Label11->setText(ui(text::kSolutions) + QString::number(gConjuntos->resultCount(kContactSlot)));
    Label11->adjustSize();
}

void TForm1::showContact(const std::string& key) {
    if (!contactSetReady()) {
        return;
    }
    iVector ints;
    sVector strs;
    fVector floats;
    if (!gConjuntos->sObjInfo(key, kKeyField, kContactSlot, ints, strs, floats)) {
        return;
    }
    LabeledEdit1->setText(fromAnsi(fieldOf(strs, kFirstNamesField)));
    LabeledEdit2->setText(fromAnsi(fieldOf(strs, kSurnamesField)));
    LabeledEdit3->setText(fromAnsi(fieldOf(strs, kAddressField)));
    LabeledEdit5->setText(fromAnsi(fieldOf(strs, kWebField)));
    ComboBox1->setEditText(fromAnsi(fieldOf(strs, kDayField)));
    ComboBox2->setEditText(fromAnsi(fieldOf(strs, kMonthField)));
    Memo1->setPlainText(fromAnsi(fieldOf(strs, kNotesField)));

    iVector counts;
    sMatrix lists;
    if (!gConjuntos->sObjLists(key, kKeyField, kContactSlot, counts, lists)) {
        return;
    }
    const sVector none;
    fillListBox(ListBox1,
                kPhoneList < static_cast<int32_t>(lists.size()) ? lists[kPhoneList] : none);
    fillListBox(ListBox2,
                kEmailList < static_cast<int32_t>(lists.size()) ? lists[kEmailList] : none);
}

// ---------------------------------------------------------------------------
// Events

void TForm1::Salir1Click() { close(); }

void TForm1::Importar1Click() {
    if (!contactSetReady()) {
        return;
    }
    const QStringList files = chooseFiles(
        {false, ui(text::kImportVCard).remove(QStringLiteral("...")), ui(text::kVCardFilter), {}});
    if (files.isEmpty()) {
        return;
    }
    const std::vector<CardImport> cards = readVCardFiles(files);
    ImportReport report;
    importCards(*gConjuntos, kContactSlot, cards, MergeRule::KeepStored, report);
    refreshResults();

    constexpr size_t kShownWarnings = 15;
    QString message = ui(text::kImportDone) + importSummary(report) + QLatin1Char('.');
    const std::vector<std::string> lines = importLines(report);
    for (size_t i = 0; i < lines.size() && i < kShownWarnings; ++i) {
        message += QLatin1Char('\n') + fromAnsi(lines[i]);
    }
    if (lines.size() > kShownWarnings) {
        message += QLatin1Char('\n') + ui(text::kMoreWarnings).arg(lines.size() - kShownWarnings);
    }
    showMessageBox(message);
}

void TForm1::Exportar1Click() {
    if (!contactSetReady()) {
        return;
    }
    const QStringList files =
        chooseFiles({true, ui(text::kExportVCard).remove(QStringLiteral("...")),
                     ui(text::kVCardFilter), ui(text::kVCardSuggested)});
    if (files.isEmpty()) {
        return;
    }
    const BookExport out = exportBook(*gConjuntos, kContactSlot, VCardVersion::V40);
    writeFileAtomically(files.first(), out.text);
    QString message =
        QString::number(out.count) + ui(text::kExportDone) + files.first() + QLatin1Char('.');
    for (const std::string& warning : out.warnings) {
        message += QLatin1Char('\n') + fromAnsi(warning);
    }
    showMessageBox(message);
}

void TForm1::Agregar1Click() {
    if (!contactSetReady() || refuseUnkeepableText()) {
        return;
    }
    gConjuntos->newObj(contactProto());

    // Empty fields get "n/a", in the controls themselves.
    const QString notAvailable = ui(text::kNotAvailable);
    for (QLineEdit* edit : {LabeledEdit1, LabeledEdit2, LabeledEdit3, LabeledEdit5}) {
        if (edit->text().isEmpty()) {
            edit->setText(notAvailable);
        }
    }
    for (QComboBox* picker : {ComboBox1, ComboBox2}) {
        if (picker->currentText().isEmpty()) {
            picker->setEditText(notAvailable);
        }
    }
    if (Memo1->toPlainText().isEmpty()) {
        Memo1->setPlainText(notAvailable);
    }

    sVector strs(kContactStrings);
    strs[kFirstNamesField] = singleLine(toAnsi(LabeledEdit1->text()));
    strs[kSurnamesField] = singleLine(toAnsi(LabeledEdit2->text()));
    strs[kAddressField] = singleLine(toAnsi(LabeledEdit3->text()));
    strs[kWebField] = singleLine(toAnsi(LabeledEdit5->text()));
    strs[kDayField] = singleLine(toAnsi(ComboBox1->currentText()));
    strs[kMonthField] = singleLine(toAnsi(ComboBox2->currentText()));
    strs[kNotesField] = flattenLines(memoText(Memo1));
    strs[kKeyField] = contactKey(strs[kFirstNamesField], strs[kSurnamesField]);
    gConjuntos->setObjData(iVector{}, strs, fVector{});

    for (int row = 0; row < ListBox1->count(); ++row) {
        gConjuntos->addObjListItem(kPhoneList, singleLine(toAnsi(ListBox1->item(row)->text())));
    }
    for (int row = 0; row < ListBox2->count(); ++row) {
        gConjuntos->addObjListItem(kEmailList, singleLine(toAnsi(ListBox2->item(row)->text())));
    }
    gConjuntos->commitObj(kContactSlot, kCommitByString);
    gConjuntos->releaseObj();

    gCurrentKey = strs[kKeyField];
    refreshResults();
}

void TForm1::Modificar1Click() { Agregar1Click(); }

bool TForm1::refuseUnkeepableText() {
    const auto listText = [](const QListWidget* box) {
        QString all;
        for (int row = 0; row < box->count(); ++row) all += box->item(row)->text();
        return all;
    };
    const std::pair<const char*, QString> fields[] = {
        {text::kFirstNames, LabeledEdit1->text()},
        {text::kSurnames, LabeledEdit2->text()},
        {text::kAddress, LabeledEdit3->text()},
        {text::kWebUrl, LabeledEdit5->text()},
        {text::kBirthday, ComboBox1->currentText() + ComboBox2->currentText()},
        {text::kNotes, Memo1->toPlainText()},
        {text::kPhones, listText(ListBox1)},
        {text::kEmails, listText(ListBox2)},
    };
    for (const auto& [caption, value] : fields) {
        const QString outside = outsideAnsi(value);
        if (!outside.isEmpty()) {
            showMessageBox(ui(text::kCannotKeepStart) + QLatin1Char('"') + ui(caption) +
                           QLatin1Char('"') + ui(text::kCannotKeepChars) + outside +
                           ui(text::kCannotKeepEnd));
            return true;
        }
    }
    return false;
}

void TForm1::Borrar1Click() {
    if (gCurrentKey.empty()) {
        showMessageBox(ui(text::kSelectAContact));
        return;
    }
    if (contactSetReady()) {
        gConjuntos->delObj(kContactSlot, gCurrentKey);
        refreshResults();
    }
    showMessageBox(ui(text::kContactDeleted));
}

void TForm1::Crditos1Click() {
    if (credits_ != nullptr) {
        credits_->showInFront();
    }
}

void TForm1::Button1Click() { ListBox1->addItem(LabeledEdit4->text()); }

void TForm1::Button5Click() { removeSelectedLine(ListBox1); }

void TForm1::Button2Click() { ListBox2->addItem(LabeledEdit6->text()); }

void TForm1::Button6Click() { removeSelectedLine(ListBox2); }

void TForm1::Button3Click() { refreshResults(); }

void TForm1::ListBox3Click() {
    if (!gResultKeys) {
        return;  // no results: the line says there are none
    }
    const int row = selectedRow(ListBox3);
    if (row < 0 || static_cast<size_t>(row) >= gResultKeys->size()) {
        return;
    }
    const std::string key = (*gResultKeys)[static_cast<size_t>(row)];
    showContact(key);
    gCurrentKey = key;
    setApplicationTitle(ui(text::kPickedTitlePrefix) + LabeledEdit1->text() + QLatin1Char(' ') +
                        LabeledEdit2->text());
    setWindowTitle(applicationTitle());
}

}  // namespace contavio
