// The credits window: shown from the menu without blocking, one window however
// often it is asked for, its fixed read-only text, hidden when closed.
#include <QApplication>
#include <QTest>

#include "GuiTest.h"

namespace contavio::testing {
namespace {

class CreditsTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        start();
        forgetMessages();
    }

    QPlainTextEdit* creditsMemo() {
        return credits().findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
    }

    int creditsWindows() {
        int count = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (qobject_cast<TForm2*>(window) != nullptr) {
                ++count;
            }
        }
        return count;
    }
};

TEST_F(CreditsTest, CreditsWindowStartsHidden) {
    EXPECT_FALSE(credits().isVisible());
    EXPECT_EQ(credits().windowTitle(), q("Cr\xE9"
                                         "ditos"));
}

TEST_F(CreditsTest, CreditsTwiceGivesOneVisibleWindow) {
    menu("Crditos1");
    menu("Crditos1");
    EXPECT_EQ(creditsWindows(), 1);
    EXPECT_TRUE(credits().isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&credits()));
    EXPECT_EQ(credits().size(), QSize(291, 267));
    EXPECT_EQ(credits().minimumSize(), credits().maximumSize()) << "not resizable";
    EXPECT_FALSE(credits().windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(messages().isEmpty());
}

TEST_F(CreditsTest, CreditsShowTwentyEightFixedLines) {
    menu("Crditos1");
    QPlainTextEdit* text = creditsMemo();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->geometry(), QRect(0, 0, 289, 265));
    const QStringList shown = text->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(shown.size(), 28);
    EXPECT_TRUE(shown[0].startsWith("Tarvel v0.98 por "));
    EXPECT_TRUE(shown[4].startsWith(q("Aplicaci\xF3n de ")));
    EXPECT_TRUE(shown[3].isEmpty());
    EXPECT_TRUE(shown[5].isEmpty());
    EXPECT_EQ(shown[6], "v0.9");
    EXPECT_EQ(shown[7], q("   Primer versi\xF3n funcional."));
    EXPECT_EQ(shown[8], q("   Limitaci\xF3n: los nombres y apellidos de los contactos no"));
    EXPECT_EQ(shown[9], "pueden coincidir al mismo tiempo, es decir no se puede");
    EXPECT_TRUE(shown[14].isEmpty());
    EXPECT_TRUE(shown[15].isEmpty());
    EXPECT_EQ(shown[16], "v0.98");
    EXPECT_EQ(shown[17], "   Varias mejoras se agregaron al sistema, como ser");
    EXPECT_EQ(shown[22], q("   Se hicieron mejoras menores de c\xF3"
                           "digo."));
    EXPECT_EQ(shown[23], q("   Contin\xFA"
                           "a la limitaci\xF3n para ingresar contactos con"));
    EXPECT_EQ(shown[24], "nombres y apellidos iguales.");
    EXPECT_EQ(shown[25], q("   En pr\xF3ximas ediciones se quiere agregar un cuadro"));
    EXPECT_EQ(shown[26], q("de login opcional, as\xED nadie que no tenga un nombre"));
    EXPECT_EQ(shown[27], "de usuario y una clave no pueda acceder al programa.");
    const QString all = text->toPlainText();
    EXPECT_TRUE(all.contains("contact.txt"));
    EXPECT_TRUE(all.contains("data.vlt"));
}

TEST_F(CreditsTest, TypingIntoTheCreditsChangesNothing) {
    menu("Crditos1");
    QPlainTextEdit* text = creditsMemo();
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    const QString before = text->toPlainText();
    text->setFocus();
    QTest::keyClicks(text, "xyz");
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClick(text, Qt::Key_Delete);
    QTest::keyClick(text, Qt::Key_Backspace);
    EXPECT_EQ(text->toPlainText(), before);
}

TEST_F(CreditsTest, ClosingTheCreditsHidesThemAndCreditosShowsThemAgain) {
    menu("Crditos1");
    credits().close();
    EXPECT_FALSE(credits().isVisible());
    EXPECT_TRUE(form().isVisible()) << "closing the credits never ends the program";
    EXPECT_FALSE(form().closedDown());
    menu("Crditos1");
    EXPECT_TRUE(credits().isVisible());
    EXPECT_EQ(creditsMemo()->toPlainText().split(QLatin1Char('\n')).size(), 28);
}

TEST_F(CreditsTest, MainWindowStaysUsableWhileTheCreditsAreShown) {
    menu("Crditos1");
    addContact("Ana", "Ruiz", "Centro");
    EXPECT_EQ(label("Label11")->text(), "Soluciones: 1");
    EXPECT_TRUE(credits().isVisible());
}

TEST_F(CreditsTest, ClosingTheMainWindowClosesTheCreditsToo) {
    menu("Crditos1");
    menu("Salir1");
    EXPECT_TRUE(form().closedDown());
    EXPECT_FALSE(credits().isVisible());
    EXPECT_FALSE(form().isVisible());
}

}  // namespace
}  // namespace contavio::testing
