// The telephone and e-mail panels: their "Agregar" appends the edit's text to
// the editor's list, their remove buttons take out the selected line only.
#include <QTest>

#include "GuiTest.h"

namespace contavio::testing {
namespace {

class PanelsTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        start();
        forgetMessages();
    }
};

TEST_F(PanelsTest, AgregarAppendsThePhoneAsTheLastLineAndKeepsTheEdit) {
    type("LabeledEdit4", "555-1234");
    click("Button1");
    type("LabeledEdit4", "555-9999");
    click("Button1");
    EXPECT_EQ(lines("ListBox1"), (QStringList{"555-1234", "555-9999"}));
    EXPECT_EQ(edit("LabeledEdit4")->text(), "555-9999");
    EXPECT_TRUE(lines("ListBox2").isEmpty());
    EXPECT_EQ(gConjuntos->sets[0]->count, 0) << "the panels store nothing by themselves";
}

TEST_F(PanelsTest, AgregarAppendsEvenAnEmptyText) {
    click("Button1");
    click("Button2");
    EXPECT_EQ(lines("ListBox1"), QStringList{""});
    EXPECT_EQ(lines("ListBox2"), QStringList{""});
}

TEST_F(PanelsTest, EmailAgregarAppendsToTheEmailList) {
    type("LabeledEdit6", "ana@example.com");
    click("Button2");
    click("Button2");
    EXPECT_EQ(lines("ListBox2"), (QStringList{"ana@example.com", "ana@example.com"}));
    EXPECT_TRUE(lines("ListBox1").isEmpty());
}

TEST_F(PanelsTest, EliminarSeleccionadoRemovesOnlyTheSelectedPhone) {
    for (const char* phone : {"1", "2", "3"}) {
        type("LabeledEdit4", phone);
        click("Button1");
    }
    clickLine("ListBox1", 1);
    click("Button5");
    EXPECT_EQ(lines("ListBox1"), (QStringList{"1", "3"}));
    EXPECT_TRUE(messages().isEmpty());

    // Nothing is selected after the removal: a second click removes nothing.
    click("Button5");
    EXPECT_EQ(lines("ListBox1"), (QStringList{"1", "3"}));
}

TEST_F(PanelsTest, RemoveButtonsWithoutASelectionRemoveNothingAndSayNothing) {
    type("LabeledEdit4", "1");
    click("Button1");
    type("LabeledEdit6", "a@b");
    click("Button2");
    click("Button5");
    click("Button6");
    EXPECT_EQ(lines("ListBox1"), QStringList{"1"});
    EXPECT_EQ(lines("ListBox2"), QStringList{"a@b"});
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(PanelsTest, EmailEliminarRemovesOnlyTheSelectedEmail) {
    for (const char* email : {"a@b", "c@d"}) {
        type("LabeledEdit6", email);
        click("Button2");
    }
    type("LabeledEdit4", "1");
    click("Button1");
    clickLine("ListBox2", 0);
    click("Button6");
    EXPECT_EQ(lines("ListBox2"), QStringList{"c@d"});
    EXPECT_EQ(lines("ListBox1"), QStringList{"1"}) << "the other list is left alone";
}

TEST_F(PanelsTest, RemovingFromTheEditorChangesTheStoredContactOnlyWhenSaved) {
    addContact("Ana", "Ruiz", "Centro", {"1", "2"});
    clickLine("ListBox3", 0);  // lists shown newest first: 2, 1
    clickLine("ListBox1", 0);
    click("Button5");
    Contact stored;
    ASSERT_TRUE(storedContact("AnaRuiz", stored));
    EXPECT_EQ(stored.phones.size(), 2u);

    menu("Modificar1");
    ASSERT_TRUE(storedContact("AnaRuiz", stored));
    EXPECT_EQ(stored.phones, std::vector<std::string>{"1"});
}

}  // namespace
}  // namespace contavio::testing
