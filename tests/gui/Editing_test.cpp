// Saving, changing, deleting, searching and picking contacts through the
// main window's menu, editor and results list.
#include <QApplication>
#include <QTest>
#include <QWheelEvent>

#include "GuiTest.h"

namespace contavio::testing {
namespace {

class EditingTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        start();
        forgetMessages();  // "No se pudo abrir: data.vlt" of the first start
    }

    // The editor as the user sees it.
    QStringList editor() {
        return {edit("LabeledEdit1")->text(),
                edit("LabeledEdit2")->text(),
                edit("LabeledEdit3")->text(),
                edit("LabeledEdit5")->text(),
                combo("ComboBox1")->currentText(),
                combo("ComboBox2")->currentText(),
                memo()->toPlainText()};
    }
};

TEST_F(EditingTest, AgregarWithNothingTypedStoresNotAvailableUnderTheKeyNaNa) {
    menu("Agregar1");
    EXPECT_EQ(editor(), (QStringList{"n/a", "n/a", "n/a", "n/a",
                                     q("D\xED"
                                       "a"),
                                     "Mes", "n/a"}));
    EXPECT_TRUE(messages().isEmpty());

    Contact stored;
    ASSERT_TRUE(storedContact("n/an/a", stored));
    EXPECT_EQ(stored.firstNames, "n/a");
    EXPECT_EQ(stored.surnames, "n/a");
    EXPECT_EQ(stored.address, "n/a");
    EXPECT_EQ(stored.web, "n/a");
    EXPECT_EQ(stored.day,
              "D\xED"
              "a");
    EXPECT_EQ(stored.month, "Mes");
    EXPECT_EQ(stored.notes, "n/a");
    EXPECT_TRUE(stored.phones.empty());
    EXPECT_TRUE(stored.emails.empty());
    EXPECT_EQ(gCurrentKey, "n/an/a");
    EXPECT_EQ(lines("ListBox3"), QStringList{"n/a n/a n/a "});
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 1"));
}

TEST_F(EditingTest, AnErasedBirthdayPickerIsStoredAsNotAvailable) {
    type("LabeledEdit1", "Ana");
    type("LabeledEdit2", "Ruiz");
    erase(combo("ComboBox1"));
    type(combo("ComboBox2"), "Marzo");
    menu("Agregar1");
    EXPECT_EQ(combo("ComboBox1")->currentText(), q("n/a"));

    Contact stored;
    ASSERT_TRUE(storedContact("AnaRuiz", stored));
    EXPECT_EQ(stored.day, "n/a");
    EXPECT_EQ(stored.month, "Marzo");
}

// A wheel turned while passing over the editor must not change a birthday
// that the next "Modificar" would save; once the user chose the picker, it does.
TEST_F(EditingTest, WheelChangesABirthdayPickerOnlyOnceItHasTheFocus) {
    start();
    QApplication::setActiveWindow(&form());
    for (const char* name : {"ComboBox1", "ComboBox2"}) {
        SCOPED_TRACE(name);
        QComboBox* picker = combo(name);
        const QString prompt = picker->currentText();
        const auto turn = [picker] {
            const QPoint at = picker->rect().center();
            QWheelEvent wheel(at, picker->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(picker, &wheel);
        };
        edit("LabeledEdit1")->setFocus();
        turn();
        EXPECT_EQ(picker->currentText(), prompt);
        EXPECT_FALSE(picker->hasFocus()) << "the wheel does not take the focus";
        picker->setFocus();
        ASSERT_TRUE(picker->hasFocus());
        turn();
        EXPECT_NE(picker->currentText(), prompt);
    }
}

TEST_F(EditingTest, TextsAreStoredExactlyAsTyped) {
    type("LabeledEdit1", "  Ana ");
    type("LabeledEdit2", "de la Cruz");
    type("LabeledEdit5", "http://Example.com/A");
    type(combo("ComboBox1"), "7");
    type(combo("ComboBox2"), "Julio");
    menu("Agregar1");

    Contact stored;
    ASSERT_TRUE(storedContact("  Ana de la Cruz", stored));
    EXPECT_EQ(stored.firstNames, "  Ana ");
    EXPECT_EQ(stored.web, "http://Example.com/A");
    EXPECT_EQ(stored.day, "7");
    EXPECT_EQ(stored.month, "Julio");
}

TEST_F(EditingTest, AddingTwiceWithTheSameNamesKeepsOneContactWithTheSecondData) {
    addContact("Ana", "Ruiz", "Primera 1");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 1"));
    addContact("Ana", "Ruiz", "Segunda 2");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 1"));
    EXPECT_EQ(lines("ListBox3"), QStringList{"Ana Ruiz Segunda 2 "});
    EXPECT_EQ(gConjuntos->sets[0]->count, 1);
}

TEST_F(EditingTest, SplitsOfTheSameLettersShareAKeyWhileLetterCaseDoesNot) {
    addContact("AB", "C", "Uno");
    addContact("A", "BC", "Dos");
    EXPECT_EQ(lines("ListBox3"), QStringList{"A BC Dos "});

    addContact("ab", "cd", "Tres");
    addContact("AB", "CD", "Cuatro");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 3"));
    Contact lower;
    Contact upper;
    EXPECT_TRUE(storedContact("abcd", lower));
    EXPECT_TRUE(storedContact("ABCD", upper));
}

TEST_F(EditingTest, ModifyingThePickedContactsSurnamesAddsASecondContact) {
    addContact("Ana", "Ruiz", "Centro");
    clickLine("ListBox3", 0);
    type("LabeledEdit2", "Ruiz Soto");
    menu("Modificar1");

    EXPECT_EQ(lines("ListBox3"), (QStringList{"Ana Ruiz Centro ", "Ana Ruiz Soto Centro "}));
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 2"));
    EXPECT_EQ(gCurrentKey, "AnaRuiz Soto");
    EXPECT_EQ(form().windowTitle(), q("Tarvel: Ana Ruiz")) << "saving leaves the title";
}

TEST_F(EditingTest, ModificarSavesLikeAgregar) {
    type("LabeledEdit1", "Luis");
    type("LabeledEdit2", "Mora");
    menu("Modificar1");
    Contact stored;
    ASSERT_TRUE(storedContact("LuisMora", stored));
    EXPECT_EQ(stored.address, "n/a");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 1"));
}

TEST_F(EditingTest, DeletingBeforeAnyAddAsksForASelectedContact) {
    menu("Borrar1");
    EXPECT_EQ(messages(), QStringList{"Debe haber un contacto seleccionado"});
    EXPECT_EQ(label("Label11")->text(), q("Label11"));
}

TEST_F(EditingTest, DeletingRemovesTheCurrentContactAndASecondDeleteStillConfirms) {
    addContact("Ana", "Ruiz", "Centro");
    addContact("Luis", "Mora", "Norte");
    menu("Borrar1");
    EXPECT_EQ(messages(), QStringList{"Contacto eliminado"});
    EXPECT_EQ(lines("ListBox3"), QStringList{"Ana Ruiz Centro "});
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 1"));
    Contact stored;
    EXPECT_FALSE(storedContact("LuisMora", stored));

    menu("Borrar1");
    EXPECT_EQ(messages(), (QStringList{"Contacto eliminado", "Contacto eliminado"}));
    EXPECT_EQ(lines("ListBox3"), QStringList{"Ana Ruiz Centro "});
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 1"));

    // The editor still shows the deleted contact; saving stores it again.
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Luis");
    menu("Agregar1");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 2"));
}

TEST_F(EditingTest, DeletingAfterAPickDeletesThePickedContact) {
    addContact("Ana", "Ruiz", "Centro");
    addContact("Luis", "Mora", "Norte");
    clickLine("ListBox3", 0);  // Ana
    menu("Borrar1");
    EXPECT_EQ(lines("ListBox3"), QStringList{"Luis Mora Norte "});
}

TEST_F(EditingTest, PickingAResultFillsTheEditorAndNamesTheTitle) {
    type(combo("ComboBox1"), "12");
    type(combo("ComboBox2"), "Mayo");
    type(memo(), "Llamar temprano");
    type("LabeledEdit5", "www.ab.example");
    addContact("ab", "cd", "Calle 9", {"x", "y", "z"}, {"m1", "m2"});
    addContact("Otro", "Contacto", "Lejos", {"999"}, {});
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Otro");

    clickLine("ListBox3", 0);  // "ab cd Calle 9 "
    EXPECT_EQ(editor(), (QStringList{"ab", "cd", "Calle 9", "www.ab.example", "12", "Mayo",
                                     "Llamar temprano"}));
    EXPECT_EQ(lines("ListBox1"), (QStringList{"z", "y", "x"}));
    EXPECT_EQ(lines("ListBox2"), (QStringList{"m2", "m1"}));
    EXPECT_EQ(gCurrentKey, "abcd");
    EXPECT_EQ(applicationTitle(), q("Tarvel: ab cd"));
    EXPECT_EQ(form().windowTitle(), q("Tarvel: ab cd"));
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(EditingTest, MovingTheSelectionWithTheKeyboardOpensEachLine) {
    addContact("Ana", "Ruiz", "Centro");
    addContact("Luis", "Mora", "Norte");
    QAbstractItemView* results = view("ListBox3");
    results->setFocus();
    QTest::keyClick(results, Qt::Key_Down);  // onto the first line
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Ana");
    QTest::keyClick(results, Qt::Key_Down);
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Luis");
    EXPECT_EQ(gCurrentKey, "LuisMora");
    EXPECT_EQ(form().windowTitle(), q("Tarvel: Luis Mora"));
}

TEST_F(EditingTest, PickingTheNoMatchLineChangesNothing) {
    addContact("Ana", "Ruiz", "Centro");
    type("LabeledEdit7", "zzz");
    click("Button3");
    ASSERT_EQ(lines("ListBox3"), QStringList{"No se encontraron coincidencias... "});
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 0"));
    type("LabeledEdit1", "Escrito");

    clickLine("ListBox3", 0);
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Escrito");
    EXPECT_EQ(gCurrentKey, "AnaRuiz");
    EXPECT_EQ(form().windowTitle(), q("Contavio"));
    EXPECT_EQ(applicationTitle(), q("Tarvel - Brenholt"));
}

TEST_F(EditingTest, RefreshingTheResultsPicksNothing) {
    addContact("Ana", "Ruiz", "Centro");
    addContact("Luis", "Mora", "Norte");
    clickLine("ListBox3", 1);  // Luis
    type("LabeledEdit1", "Escrito");
    click("Button3");  // the list is cleared and refilled
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Escrito");
    EXPECT_FALSE(view("ListBox3")->selectionModel()->hasSelection());
}

TEST_F(EditingTest, SearchingListsOnlyMatchesAndTypingAloneChangesNothing) {
    addContact("Ana", "Ruiz", "Calle Sol");
    addContact("Luis", "Mora", "Plaza Luna");
    addContact("Marta", "Sol", "Centro");

    type("LabeledEdit7", "sol");
    EXPECT_EQ(lines("ListBox3").size(), 3) << "typing alone does not search";
    click("Button3");
    EXPECT_EQ(lines("ListBox3"), (QStringList{"Ana Ruiz Calle Sol ", "Marta Sol Centro "}));
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 2"));

    // A contact saved while a search is shown is listed only if it matches.
    addContact("Pedro", "Gil", "Oeste");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 2"));
    addContact("Sole", "Gil", "Oeste");
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 3"));
}

TEST_F(EditingTest, NotesTypedOnThreeLinesAreStoredAndShownOnOne) {
    type(memo(), "uno\ndos\ntres");
    ASSERT_EQ(memo()->document()->blockCount(), 3);
    addContact("Ana", "Ruiz", "Centro");

    Contact stored;
    ASSERT_TRUE(storedContact("AnaRuiz", stored));
    EXPECT_EQ(stored.notes, "uno  dos  tres") << "each line break is CR LF, two blanks";

    type(memo(), "otra cosa");
    clickLine("ListBox3", 0);
    EXPECT_EQ(memo()->toPlainText(), "uno  dos  tres");
    EXPECT_EQ(memo()->document()->blockCount(), 1);
}

TEST_F(EditingTest, ListLinesAreStoredAsTheyAreEvenEmptyOrRepeated) {
    addContact("Ana", "Ruiz", "Centro", {"", "5", "5"}, {"a@b"});
    Contact stored;
    ASSERT_TRUE(storedContact("AnaRuiz", stored));
    EXPECT_EQ(stored.phones, (std::vector<std::string>{"5", "5", ""}));
    EXPECT_EQ(stored.emails, std::vector<std::string>{"a@b"});
}

TEST_F(EditingTest, ShowingAnUnknownKeyLeavesTheEditorAlone) {
    addContact("Ana", "Ruiz", "Centro", {"1"});
    form().showContact("Nadie");
    EXPECT_EQ(edit("LabeledEdit1")->text(), "Ana");
    EXPECT_EQ(lines("ListBox1"), QStringList{"1"});
}

}  // namespace
}  // namespace contavio::testing
