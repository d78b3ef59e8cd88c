// The main window's controls: the menu, the contact editor, the telephone,
// e-mail and search panels and the results, each at its place and with its
// font, and the order the Tab key walks them. The events are in
// MainEvents.cpp, start-up and close-down in MainLifecycle.cpp.
#include "Main.h"

#include <QAction>
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
#include <QWheelEvent>
#include <limits>

#include "Accessibility.h"
#include "AppIcon.h"
#include "Keyboard.h"
#include "Look.h"
#include "ResultsModel.h"
#include "book/Ansi.h"
#include "book/BookFiles.h"
#include "book/Texts.h"

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
    CuentaCardDAV1 = Programa1->addAction(ui(text::kAccountEntry));
    CuentaCardDAV1->setObjectName(QStringLiteral("CuentaCardDAV1"));
    Sincronizar1 = Programa1->addAction(ui(text::kSyncNowEntry));
    Sincronizar1->setObjectName(QStringLiteral("Sincronizar1"));
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
    connect(CuentaCardDAV1, &QAction::triggered, this,
            [this] { handle(&TForm1::CuentaCardDAV1Click); });
    connect(Sincronizar1, &QAction::triggered, this,
            [this] { handle(&TForm1::Sincronizar1Click); });
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

}  // namespace contavio
