// The main window from the keyboard and through a screen reader: Return,
// Space and the shortcuts, and the names and descriptions announced.
#include <QAccessible>
#include <QApplication>
#include <QTest>

#include "GuiTest.h"
#include "book/Texts.h"

namespace contavio::testing {
namespace {

class KeyboardTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        start();
        forgetMessages();
        QApplication::setActiveWindow(&form());
    }
};

TEST_F(KeyboardTest, ReturnInAFieldOrOnAFocusedButtonDoesWhatItsButtonDoes) {
    addContact("Ana", "Ruiz", "Centro");
    type("LabeledEdit4", "555 0123");
    QTest::keyClick(edit("LabeledEdit4"), Qt::Key_Return);
    EXPECT_EQ(lines("ListBox1"), QStringList{"555 0123"});

    type("LabeledEdit6", "ana@example.com");
    QTest::keyClick(edit("LabeledEdit6"), Qt::Key_Enter);
    EXPECT_EQ(lines("ListBox2"), QStringList{"ana@example.com"});

    type("LabeledEdit7", "Ruiz");
    QTest::keyClick(edit("LabeledEdit7"), Qt::Key_Return);
    EXPECT_EQ(lines("ListBox3"), QStringList{"Ana Ruiz Centro "});
    EXPECT_EQ(label("Label11")->text(), "Soluciones: 1");

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        QPushButton* button = find<QPushButton>("Button1");
        button->setFocus();
        ASSERT_TRUE(button->hasFocus());
        const int before = list("ListBox1")->count();
        QTest::keyClick(button, key);
        EXPECT_EQ(list("ListBox1")->count(), before + 1) << key;
    }
}

TEST_F(KeyboardTest, ShortcutsFindSearchAndQuit) {
    addContact("Ana", "Ruiz", "Centro");
    edit("LabeledEdit1")->setFocus();
    QTest::keyClick(&form(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(edit("LabeledEdit7")->hasFocus()) << "Ctrl+F goes to the search field";

    type("LabeledEdit7", "Nadie");
    QTest::keyClick(&form(), Qt::Key_F5);
    EXPECT_EQ(label("Label11")->text(), "Soluciones: 0");

    QTest::keyClick(&form(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(form().closedDown()) << "Ctrl+Q quits as \"Salir\" does";
    EXPECT_EQ(readBook("data.vlt").contacts.count("AnaRuiz"), 1u);
}

TEST_F(KeyboardTest, EveryControlHasASpanishAccessibleNameAndDescription) {
    QStringList names;
    for (const text::ControlDescription& entry : text::kControlDescriptions) {
        SCOPED_TRACE(entry.control);
        QWidget* control = find<QWidget>(entry.control);
        ASSERT_NE(control, nullptr);
        if (auto* picker = qobject_cast<QComboBox*>(control)) control = picker->lineEdit();
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(read, nullptr);
        EXPECT_EQ(read->text(QAccessible::Name), q(entry.name));
        EXPECT_EQ(read->text(QAccessible::Description), q(entry.description));
        names.append(read->text(QAccessible::Name));
    }
    names.removeDuplicates();
    EXPECT_EQ(names.size(), static_cast<qsizetype>(text::kControlDescriptions.size()))
        << "no two controls are announced alike";
    EXPECT_EQ(QAccessible::queryAccessibleInterface(memo())->text(QAccessible::Name), "Notas");
}

}  // namespace
}  // namespace contavio::testing
