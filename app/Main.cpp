#include "Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "Accessibility.h"
#include "Ansi.h"
#include "AppIcon.h"
#include "Application.h"
#include "BookFiles.h"
#include "BusyNotice.h"
#include "ContactBook.h"
#include "ContactProto.h"
#include "Credits.h"
#include "Dialogs.h"
#include "Keyboard.h"
#include "Look.h"
#include "ResultsModel.h"
#include "Texts.h"
#include "VCardFiles.h"
#include "engine/UhashElem.h"
#include "engine/basicOps.h"

namespace contavio {

std::unique_ptr<TConjuntos> gConjuntos;
std::string gCurrentKey;
std::optional<sVector> gResultTexts;
std::optional<sVector> gResultKeys;

namespace {

constexpr int kClientWidth = 665;
constexpr int kClientHeight = 364;
constexpr int kLabelSpacing = 3;  // between an edit and its caption above it
constexpr int kNoLengthLimit = std::numeric_limits<int>::max();

QLabel* makeLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(ui(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

// A single-line edit with its caption 3 pixels above it.
QLineEdit* makeLabeledEdit(QWidget* parent, const char* name, const char* caption,
                           const QRect& geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    edit->setMaxLength(kNoLengthLimit);
    auto* label = new QLabel(ui(caption), parent);
    label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
    label->adjustSize();
    label->move(geometry.left(), geometry.top() - kLabelSpacing - label->height());
    label->setBuddy(edit);
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* name, const char* caption,
                        const QRect& geometry, bool underline) {
    auto* button = new QPushButton(ui(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setFont(verdanaFont(underline));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, kLime);
    button->setPalette(palette);
    return button;
}

// A list that takes the focus without making a line current, so the first
// Down key selects the first line, not the second.
template <class View>
class FocusWithoutCurrent : public View {
  public:
    using View::View;

  protected:
    void focusInEvent(QFocusEvent* event) override {
        View::focusInEvent(event);
        if (!this->selectionModel()->hasSelection()) {
            this->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
    }
};

template <class View>
View* shapeList(View* list, const char* name, const QRect& geometry) {
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(geometry);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // long lines are cut
    list->setUniformItemSizes(true);  // one line a row: no measuring of every line
    return list;
}

QListWidget* makeListBox(QWidget* parent, const char* name, const QRect& geometry) {
    return shapeList(new FocusWithoutCurrent<QListWidget>(parent), name, geometry);
}

// The selected row of a list view, or -1.
int selectedRow(const QAbstractItemView* view) {
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

QGroupBox* makeGroupBox(QWidget* parent, const char* name, const char* caption,
                        const QRect& geometry) {
    auto* box = new QGroupBox(ui(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    return box;
}

// The panels show their captions and labels in lime green.
void paintPanel(QGroupBox* box) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::WindowText, kLime);
    box->setPalette(palette);
}

void paintPanelEdit(QLineEdit* edit, const QFont& font, const QColor& textColour) {
    edit->setFont(font);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, kActiveTitleGradient);
    palette.setColor(QPalette::Text, textColour);
    edit->setPalette(palette);
}

// The birthday pickers change by the wheel only once the user has chosen
// them: a wheel turned while passing over the editor changes nothing.
class BirthdayPicker : public QComboBox {
  public:
    using QComboBox::QComboBox;

  protected:
    void wheelEvent(QWheelEvent* event) override {
        if (!hasFocus()) {
            event->ignore();
            return;
        }
        QComboBox::wheelEvent(event);
    }
};

QComboBox* makeComboBox(QWidget* parent, const char* name, const QRect& geometry) {
    auto* box = new BirthdayPicker(parent);
    box->setFocusPolicy(Qt::StrongFocus);  // the wheel does not take the focus
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    box->setEditable(true);
    box->lineEdit()->setMaxLength(kNoLengthLimit);
    box->setInsertPolicy(QComboBox::NoInsert);  // typing a text adds no item
    return box;
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

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(ui(text::kMainCaption));
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(windowFont());

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Form1Client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, kDesktopColour);
    client->setPalette(palette);
    setCentralWidget(client);

    createMenus();
    createEditor(client);
    createPanels(client);
    createResults(client);
    arrangeTabOrder();
    describeControls(this);
    addKeyboardUse(this);

    // The client area keeps its size; the window is as large as it and the menu.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();

    handle(&TForm1::FormCreate);
}

TForm1::~TForm1() {
    if (!closedDown_) {
        gConjuntos.reset();
        gResultTexts.reset();
        gResultKeys.reset();
    }
}

void TForm1::setCreditsWindow(TForm2* credits) { credits_ = credits; }

void TForm1::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    Programa1 = bar->addMenu(ui(text::kProgramMenu));
    Programa1->setObjectName(QStringLiteral("Programa1"));
    Importar1 = Programa1->addAction(ui(text::kImportVCard));
    Importar1->setObjectName(QStringLiteral("Importar1"));
    Exportar1 = Programa1->addAction(ui(text::kExportVCard));
    Exportar1->setObjectName(QStringLiteral("Exportar1"));
    Salir1 = Programa1->addAction(ui(text::kQuit));
    Salir1->setObjectName(QStringLiteral("Salir1"));

    Contactos1 = bar->addMenu(ui(text::kContactsMenu));
    Contactos1->setObjectName(QStringLiteral("Contactos1"));
    Agregar1 = Contactos1->addAction(ui(text::kAdd));
    Agregar1->setObjectName(QStringLiteral("Agregar1"));
    Modificar1 = Contactos1->addAction(ui(text::kModify));
    Modificar1->setObjectName(QStringLiteral("Modificar1"));
    Borrar1 = Contactos1->addAction(ui(text::kRemove));
    Borrar1->setObjectName(QStringLiteral("Borrar1"));

    // A top-level entry without a submenu: it acts at once.
    Crditos1 = bar->addAction(ui(text::kCredits));
    Crditos1->setObjectName(QStringLiteral("Crditos1"));

    connect(Importar1, &QAction::triggered, this, [this] { handle(&TForm1::Importar1Click); });
    connect(Exportar1, &QAction::triggered, this, [this] { handle(&TForm1::Exportar1Click); });
    connect(Salir1, &QAction::triggered, this, [this] { handle(&TForm1::Salir1Click); });
    connect(Agregar1, &QAction::triggered, this, [this] { handle(&TForm1::Agregar1Click); });
    connect(Modificar1, &QAction::triggered, this, [this] { handle(&TForm1::Modificar1Click); });
    connect(Borrar1, &QAction::triggered, this, [this] { handle(&TForm1::Borrar1Click); });
    connect(Crditos1, &QAction::triggered, this, [this] { handle(&TForm1::Crditos1Click); });
}

void TForm1::createEditor(QWidget* client) {
    GroupBox1 = makeGroupBox(client, "GroupBox1", text::kPersonalData, QRect(8, 8, 497, 233));

    LabeledEdit1 =
        makeLabeledEdit(GroupBox1, "LabeledEdit1", text::kFirstNames, QRect(16, 40, 129, 19));
    LabeledEdit2 =
        makeLabeledEdit(GroupBox1, "LabeledEdit2", text::kSurnames, QRect(144, 40, 129, 19));
    LabeledEdit5 =
        makeLabeledEdit(GroupBox1, "LabeledEdit5", text::kWebUrl, QRect(280, 40, 201, 19));
    LabeledEdit3 =
        makeLabeledEdit(GroupBox1, "LabeledEdit3", text::kAddress, QRect(16, 80, 257, 19));
    Label10 = makeLabel(GroupBox1, "Label10", text::kBirthday, 280, 80);
    ComboBox1 = makeComboBox(GroupBox1, "ComboBox1", QRect(344, 80, 57, 21));
    ComboBox2 = makeComboBox(GroupBox1, "ComboBox2", QRect(408, 80, 73, 21));

    Label3 = makeLabel(GroupBox1, "Label3", text::kPhones, 16, 104);
    ListBox1 = makeListBox(GroupBox1, "ListBox1", QRect(16, 120, 129, 97));
    Label8 = makeLabel(GroupBox1, "Label8", text::kEmails, 152, 104);
    ListBox2 = makeListBox(GroupBox1, "ListBox2", QRect(144, 120, 129, 97));
    Label9 = makeLabel(GroupBox1, "Label9", text::kNotes, 280, 104);

    Memo1 = new QPlainTextEdit(GroupBox1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(280, 120, 201, 97);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setTabChangesFocus(true);
}

void TForm1::createPanels(QWidget* client) {
    GroupBox2 = makeGroupBox(client, "GroupBox2", text::kPhonePanel, QRect(8, 248, 161, 108));
    paintPanel(GroupBox2);
    LabeledEdit4 = makeLabeledEdit(GroupBox2, "LabeledEdit4", text::kPhone, QRect(8, 36, 145, 19));
    LabeledEdit4->setFrame(false);
    paintPanelEdit(LabeledEdit4, verdanaFont(false), palette().color(QPalette::ButtonText));
    Button1 = makeButton(GroupBox2, "Button1", text::kAdd, QRect(8, 60, 145, 21), true);
    Button5 = makeButton(GroupBox2, "Button5", text::kRemoveSelected, QRect(8, 80, 145, 21), false);

    GroupBox3 = makeGroupBox(client, "GroupBox3", text::kEmailPanel, QRect(168, 248, 161, 108));
    paintPanel(GroupBox3);
    LabeledEdit6 = makeLabeledEdit(GroupBox3, "LabeledEdit6", text::kEmail, QRect(8, 36, 145, 19));
    paintPanelEdit(LabeledEdit6, windowFont(), Qt::black);
    Button2 = makeButton(GroupBox3, "Button2", text::kAdd, QRect(8, 60, 145, 21), true);
    Button6 = makeButton(GroupBox3, "Button6", text::kRemove, QRect(8, 80, 145, 21), false);

    GroupBox4 = makeGroupBox(client, "GroupBox4", text::kSearchPanel, QRect(328, 248, 177, 89));
    paintPanel(GroupBox4);
    LabeledEdit7 = makeLabeledEdit(GroupBox4, "LabeledEdit7", text::kByText, QRect(8, 36, 161, 19));
    paintPanelEdit(LabeledEdit7, windowFont(), Qt::black);
    Button3 = makeButton(GroupBox4, "Button3", text::kSearch, QRect(8, 60, 161, 21), false);

    connect(Button1, &QPushButton::clicked, this, [this] { handle(&TForm1::Button1Click); });
    connect(Button5, &QPushButton::clicked, this, [this] { handle(&TForm1::Button5Click); });
    connect(Button2, &QPushButton::clicked, this, [this] { handle(&TForm1::Button2Click); });
    connect(Button6, &QPushButton::clicked, this, [this] { handle(&TForm1::Button6Click); });
    connect(Button3, &QPushButton::clicked, this, [this] { handle(&TForm1::Button3Click); });
}

void TForm1::createResults(QWidget* client) {
    Label11 = makeLabel(client, "Label11", text::kCountLabelStart, 512, 8);
    ListBox3 =
        shapeList(new FocusWithoutCurrent<QListView>(client), "ListBox3", QRect(512, 24, 145, 329));
    results_ = new ResultsModel(&gResultTexts, ListBox3);
    ListBox3->setModel(results_);

    Label1 = makeLabel(client, "Label1", text::kVersionLabel, 368, 344);
    QFont font = windowFont();
    font.setBold(true);
    font.setUnderline(true);
    Label1->setFont(font);
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    Label1->setPalette(palette);
    Label1->adjustSize();

    // Mouse and keyboard both move the selection; each change opens the line.
    connect(ListBox3->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { handle(&TForm1::ListBox3Click); });
}

void TForm1::arrangeTabOrder() {
    const QWidget* order[] = {LabeledEdit1, LabeledEdit2, LabeledEdit3, ListBox1, ListBox2,
                              LabeledEdit5, ComboBox1,    ComboBox2,    Memo1,    LabeledEdit4,
                              Button1,      Button5,      LabeledEdit6, Button2,  Button6,
                              LabeledEdit7, Button3,      ListBox3};
    for (size_t i = 1; i < std::size(order); ++i) {
        QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
    }
}

void TForm1::handle(void (TForm1::*event)()) {
    runGuarded([this, event] { (this->*event)(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
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
    }
    QMainWindow::showEvent(event);
}

// ---------------------------------------------------------------------------
// Start-up and close-down

void TForm1::FormCreate() {
    book_ = std::make_unique<BookFiles>();
    if (book_->lock() == BookLock::State::Busy) {
        // Another window has this book: touch no file and no state, say so and end.
        bookBusy_ = true;
        closedDown_ = true;
        std::fprintf(stderr, "%s\n", ui(text::kAlreadyOpen).toLocal8Bit().constData());
        showMessageBox(ui(text::kAlreadyOpen));
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
    const bool saved = contactSetReady() ? saveContacts() : true;
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
    for (size_t i = 0; i < report.warnings.size() && i < kShownWarnings; ++i) {
        message += QLatin1Char('\n') + fromAnsi(report.warnings[i]);
    }
    if (report.warnings.size() > kShownWarnings) {
        message += QLatin1Char('\n') +
                   ui(text::kMoreWarnings).arg(report.warnings.size() - kShownWarnings);
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
