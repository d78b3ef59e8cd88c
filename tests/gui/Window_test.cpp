// The main window as it is laid out: size, captions, places of the controls,
// the menu, the keyboard order, colours, fonts and icon.
#include <QAction>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "GuiTest.h"
#include "app/AppIcon.h"

namespace contavio::testing {
namespace {

class WindowTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        start();
    }

    QRect geometryOf(const char* name) {
        auto* widget = find<QWidget>(name);
        return widget != nullptr ? widget->geometry() : QRect();
    }

    // The caption above a labeled edit.
    QLabel* captionOf(const char* editName) {
        return find<QLabel>((std::string(editName) + "Label").c_str());
    }
};

TEST_F(WindowTest, ClientAreaIsFixedAtItsDesignedSizeWithoutAMaximiseButton) {
    QWidget* client = form().centralWidget();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(client->size(), QSize(665, 364));
    EXPECT_EQ(form().minimumSize(), form().maximumSize()) << "not resizable";
    const Qt::WindowFlags flags = form().windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(form().windowTitle(), "Contavio");
}

TEST_F(WindowTest, WindowIsCentredOnTheScreen) {
    const QRect screen = form().screen()->availableGeometry();
    const QPoint offset = form().frameGeometry().center() - screen.center();
    EXPECT_LE(std::abs(offset.x()), 1);
    EXPECT_LE(std::abs(offset.y()), 1);
}

TEST_F(WindowTest, ControlsStandWhereTheDesignPutsThem) {
    const std::vector<std::pair<const char*, QRect>> places = {
        {"GroupBox1", {8, 8, 497, 233}},      {"LabeledEdit1", {16, 40, 129, 19}},
        {"LabeledEdit2", {144, 40, 129, 19}}, {"LabeledEdit5", {280, 40, 201, 19}},
        {"LabeledEdit3", {16, 80, 257, 19}},  {"ComboBox1", {344, 80, 57, 21}},
        {"ComboBox2", {408, 80, 73, 21}},     {"ListBox1", {16, 120, 129, 97}},
        {"ListBox2", {144, 120, 129, 97}},    {"Memo1", {280, 120, 201, 97}},
        {"GroupBox2", {8, 248, 161, 108}},    {"LabeledEdit4", {8, 36, 145, 19}},
        {"Button1", {8, 60, 145, 21}},        {"Button5", {8, 80, 145, 21}},
        {"GroupBox3", {168, 248, 161, 108}},  {"LabeledEdit6", {8, 36, 145, 19}},
        {"Button2", {8, 60, 145, 21}},        {"Button6", {8, 80, 145, 21}},
        {"GroupBox4", {328, 248, 177, 89}},   {"LabeledEdit7", {8, 36, 161, 19}},
        {"Button3", {8, 60, 161, 21}},        {"ListBox3", {512, 24, 145, 329}},
    };
    for (const auto& [name, rect] : places) {
        EXPECT_EQ(geometryOf(name), rect) << name;
    }
    EXPECT_EQ(label("Label10")->pos(), QPoint(280, 80));
    EXPECT_EQ(label("Label3")->pos(), QPoint(16, 104));
    EXPECT_EQ(label("Label8")->pos(), QPoint(152, 104));
    EXPECT_EQ(label("Label9")->pos(), QPoint(280, 104));
    EXPECT_EQ(label("Label11")->pos(), QPoint(512, 8));
    EXPECT_EQ(label("Label1")->pos(), QPoint(368, 344));
    // The panels and the editor sit in their group boxes.
    EXPECT_EQ(edit("LabeledEdit4")->parentWidget()->objectName(), "GroupBox2");
    EXPECT_EQ(edit("LabeledEdit7")->parentWidget()->objectName(), "GroupBox4");
    EXPECT_EQ(memo()->parentWidget()->objectName(), "GroupBox1");
}

TEST_F(WindowTest, EditCaptionsStandThreePixelsAboveTheirFields) {
    const std::vector<std::pair<const char*, QString>> captions = {
        {"LabeledEdit1", "Nombres"},
        {"LabeledEdit2", "Apellidos"},
        {"LabeledEdit5", "Web URL"},
        {"LabeledEdit3", q("Direcci\xF3n")},
        {"LabeledEdit4", q("Tel\xE9"
                           "fono")},
        {"LabeledEdit6", "E-mail"},
        {"LabeledEdit7", "por texto:"},
    };
    for (const auto& [name, text] : captions) {
        QLabel* caption = captionOf(name);
        ASSERT_NE(caption, nullptr) << name;
        EXPECT_EQ(caption->text(), text) << name;
        EXPECT_EQ(caption->geometry().bottom() + 1 + 3, edit(name)->geometry().top()) << name;
        EXPECT_EQ(caption->x(), edit(name)->x()) << name;
    }
}

TEST_F(WindowTest, CaptionsReadAsDesigned) {
    EXPECT_EQ(find<QGroupBox>("GroupBox1")->title(), " Datos personales ");
    EXPECT_EQ(find<QGroupBox>("GroupBox2")->title(), q(" Agregar Tel\xE9"
                                                       "fonos al contacto "));
    EXPECT_EQ(find<QGroupBox>("GroupBox3")->title(), " Agregar E-mail al contacto ");
    EXPECT_EQ(find<QGroupBox>("GroupBox4")->title(), q(" B\xFAsquedas "));
    EXPECT_EQ(label("Label10")->text(), q("Cumplea\xF1os"));
    EXPECT_EQ(label("Label3")->text(), q("Tel\xE9"
                                         "fonos"));
    EXPECT_EQ(label("Label8")->text(), "E-mails");
    EXPECT_EQ(label("Label9")->text(), "Notas");
    EXPECT_EQ(label("Label1")->text(), "Contavio v0.98");
    EXPECT_EQ(find<QPushButton>("Button1")->text(), "Agregar");
    EXPECT_EQ(find<QPushButton>("Button5")->text(), "Eliminar Seleccionado");
    EXPECT_EQ(find<QPushButton>("Button2")->text(), "Agregar");
    EXPECT_EQ(find<QPushButton>("Button6")->text(), "Eliminar");
    EXPECT_EQ(find<QPushButton>("Button3")->text(), "Buscar");
}

TEST_F(WindowTest, MainMenuHoldsItsEntriesInOrder) {
    QMenuBar* bar = form().menuBar();
    const QList<QAction*> top = bar->actions();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0]->text(), "Programa");
    EXPECT_EQ(top[1]->text(), "Contactos");
    EXPECT_EQ(top[2]->text(), q("Cr\xE9"
                                "ditos"));
    EXPECT_EQ(top[2]->objectName(), "Crditos1");
    EXPECT_EQ(top[2]->menu(), nullptr) << "acts at once, no submenu";

    ASSERT_NE(top[0]->menu(), nullptr);
    const QList<QAction*> program = top[0]->menu()->actions();
    ASSERT_FALSE(program.isEmpty());  // the vCard entries stand above "Salir"
    EXPECT_EQ(program.last()->text(), "Salir");
    EXPECT_EQ(program.last()->objectName(), "Salir1");

    ASSERT_NE(top[1]->menu(), nullptr);
    const QList<QAction*> contacts = top[1]->menu()->actions();
    ASSERT_EQ(contacts.size(), 3);
    EXPECT_EQ(contacts[0]->text(), "Agregar");
    EXPECT_EQ(contacts[0]->objectName(), "Agregar1");
    EXPECT_EQ(contacts[1]->text(), "Modificar");
    EXPECT_EQ(contacts[1]->objectName(), "Modificar1");
    EXPECT_EQ(contacts[2]->text(), "Eliminar");
    EXPECT_EQ(contacts[2]->objectName(), "Borrar1");
}

TEST_F(WindowTest, TabKeyWalksTheControlsInTheirDesignedOrder) {
    const QStringList order = {
        "LabeledEdit1", "LabeledEdit2", "LabeledEdit3", "ListBox1",     "ListBox2", "LabeledEdit5",
        "ComboBox1",    "ComboBox2",    "Memo1",        "LabeledEdit4", "Button1",  "Button5",
        "LabeledEdit6", "Button2",      "Button6",      "LabeledEdit7", "Button3",  "ListBox3"};
    form().activateWindow();
    edit("LabeledEdit1")->setFocus();
    QStringList walked = {QApplication::focusWidget()->objectName()};
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget* current = QApplication::focusWidget();
        ASSERT_NE(current, nullptr);
        QTest::keyClick(current, Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        ASSERT_NE(next, nullptr);
        // A combo box's edit takes the focus for its combo box.
        QWidget* named =
            qobject_cast<QComboBox*>(next->parentWidget()) ? next->parentWidget() : next;
        walked.append(named->objectName());
    }
    EXPECT_EQ(walked, order);
}

TEST_F(WindowTest, PanelsAreLimeGreenAndButtonsVerdana) {
    const QColor lime(0, 255, 0);
    for (const char* box : {"GroupBox2", "GroupBox3", "GroupBox4"}) {
        EXPECT_EQ(find<QGroupBox>(box)->palette().color(QPalette::WindowText), lime) << box;
    }
    EXPECT_EQ(captionOf("LabeledEdit4")->palette().color(QPalette::WindowText), lime);
    EXPECT_NE(find<QGroupBox>("GroupBox1")->palette().color(QPalette::WindowText), lime);
    for (const char* name : {"Button1", "Button2", "Button3", "Button5", "Button6"}) {
        auto* button = find<QPushButton>(name);
        EXPECT_EQ(button->palette().color(QPalette::ButtonText), lime) << name;
        EXPECT_EQ(button->font().family(), "Verdana") << name;
        EXPECT_EQ(button->font().pixelSize(), 11) << name;
    }
    EXPECT_TRUE(find<QPushButton>("Button1")->font().underline());
    EXPECT_TRUE(find<QPushButton>("Button2")->font().underline());
    EXPECT_FALSE(find<QPushButton>("Button5")->font().underline());
    EXPECT_EQ(edit("LabeledEdit4")->font().family(), "Verdana");
    EXPECT_EQ(edit("LabeledEdit6")->palette().color(QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(edit("LabeledEdit4")->palette().color(QPalette::Base),
              edit("LabeledEdit7")->palette().color(QPalette::Base));
    EXPECT_NE(edit("LabeledEdit7")->palette().color(QPalette::Base),
              edit("LabeledEdit1")->palette().color(QPalette::Base));
}

TEST_F(WindowTest, VersionLabelIsWhiteBoldAndUnderlined) {
    QLabel* version = label("Label1");
    EXPECT_EQ(version->palette().color(QPalette::WindowText), QColor(Qt::white));
    EXPECT_TRUE(version->font().bold());
    EXPECT_TRUE(version->font().underline());
}

TEST_F(WindowTest, WindowFontIsElevenPixelsHigh) {
    EXPECT_EQ(form().font().pixelSize(), 11);
    EXPECT_EQ(form().font().family(), "MS Sans Serif");
}

TEST_F(WindowTest, IconHasSixteenAndThirtyTwoPixelImages) {
    const QList<QSize> sizes = appIcon().availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_FALSE(form().windowIcon().isNull());
    // Not a blank square: the picture has more than one colour.
    const QImage image = appIcon().pixmap(32, 32).toImage();
    EXPECT_NE(image.pixelColor(16, 16), image.pixelColor(1, 1));
}

TEST_F(WindowTest, NoControlLimitsWhatTheUserTypes) {
    // Longer than a line edit takes by default.
    const QString longText(40000, QLatin1Char('x'));
    for (const char* name : {"LabeledEdit1", "LabeledEdit2", "LabeledEdit3", "LabeledEdit4",
                             "LabeledEdit5", "LabeledEdit6", "LabeledEdit7"}) {
        edit(name)->setText(longText);
        EXPECT_EQ(edit(name)->text().size(), 40000) << name;
    }
    combo("ComboBox1")->setEditText(longText);
    EXPECT_EQ(combo("ComboBox1")->currentText().size(), 40000);
}

}  // namespace
}  // namespace contavio::testing
