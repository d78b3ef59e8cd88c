// Text between the widgets and the store: Windows-1252 both ways, '?' for
// what it cannot hold, and the accented texts of a contact surviving the
// editor, the store and "data.vlt".
#include <QTest>
#include <functional>

#include "GuiTest.h"
#include "book/Ansi.h"

namespace contavio::testing {
namespace {

TEST(AnsiTest, EveryByteComesBackUnchanged) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(toAnsi(fromAnsi(all)), all);
}

TEST(AnsiTest, HighControlRangeMapsToWindows1252Characters) {
    EXPECT_EQ(fromAnsi("\x80"), QString(QChar(0x20AC)));  // euro sign
    EXPECT_EQ(fromAnsi("\x82"), QString(QChar(0x201A)));
    EXPECT_EQ(fromAnsi("\x85"), QString(QChar(0x2026)));  // ellipsis
    EXPECT_EQ(fromAnsi("\x8A"), QString(QChar(0x0160)));
    EXPECT_EQ(fromAnsi("\x93"), QString(QChar(0x201C)));
    EXPECT_EQ(fromAnsi("\x99"), QString(QChar(0x2122)));  // trade mark
    EXPECT_EQ(fromAnsi("\x9F"), QString(QChar(0x0178)));
    for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
        const std::string byte(1, static_cast<char>(undefined));
        EXPECT_EQ(fromAnsi(byte), QString(QChar(undefined))) << int(undefined);
        EXPECT_EQ(toAnsi(QString(QChar(undefined))), byte) << int(undefined);
    }
}

TEST(AnsiTest, LatinOneRangeIsTheSame) {
    EXPECT_EQ(fromAnsi("\xF1"), QString(QChar(0x00F1)));
    EXPECT_EQ(toAnsi(QString(QChar(0x00E9))), "\xE9");
    EXPECT_EQ(toAnsi(QString(QChar(0x00A0))), "\xA0");
    EXPECT_EQ(toAnsi(QString::fromUtf8("D\xC3\xAD"
                                       "a")),
              "D\xED"
              "a");
}

TEST(AnsiTest, CharactersOutsideWindows1252BecomeQuestionMarks) {
    EXPECT_EQ(toAnsi(QString(QChar(0x4E2D))), "?");
    EXPECT_EQ(toAnsi(QString(QChar(0x0080))), "?") << "a C1 control Windows-1252 puts elsewhere";
    EXPECT_EQ(toAnsi(QString(QChar(0x0101))), "?");
    EXPECT_EQ(toAnsi(QString::fromUtf8("a\xF0\x9F\x98\x80"
                                       "b")),
              "a?b")
        << "one character outside the plane, one '?'";
    EXPECT_EQ(toAnsi(QString(QChar(0xD800))), "?") << "a lone surrogate";
    EXPECT_EQ(toAnsi(QString(QChar(0x20AC))), "\x80");
}

TEST(AnsiTest, ErrorTextsAreReadAsUtf8WhenTheyAreAndAsWindows1252Otherwise) {
    EXPECT_EQ(fromErrorText("No such file"), "No such file");
    EXPECT_EQ(fromErrorText("Permiso denegado: \xC3\xB1"), q("Permiso denegado: \xF1"));
    EXPECT_EQ(fromErrorText("El tama\xF1o"), q("El tama\xF1o"));
}

using EncodingTest = GuiTest;

TEST_F(EncodingTest, AccentedTextsRoundTripThroughEditorStoreAndDataFile) {
    start();
    const QString names =
        q("Mar\xED"
          "a Jos\xE9");
    const QString surnames =
        q("Pe\xF1"
          "a Ib\xE1\xF1"
          "ez");
    const QString address =
        q("D\xED"
          "a \x80 Tel\xE9"
          "fonos Cr\xE9"
          "ditos \xF1");
    type(memo(), q("\xBF"
                   "Qu\xE9 tal? 50 \x80"));
    addContact(names, surnames, address,
               {q("Tel\xE9"
                  "fono \xF1")},
               {q("\xF1@example.com")});

    Contact stored;
    ASSERT_TRUE(
        storedContact("Mar\xED"
                      "a Jos\xE9"
                      "Pe\xF1"
                      "a Ib\xE1\xF1"
                      "ez",
                      stored));
    EXPECT_EQ(stored.address,
              "D\xED"
              "a \x80 Tel\xE9"
              "fonos Cr\xE9"
              "ditos \xF1");
    EXPECT_EQ(stored.day,
              "D\xED"
              "a")
        << "the prompt, stored as Windows-1252";
    EXPECT_EQ(stored.notes,
              "\xBF"
              "Qu\xE9 tal? 50 \x80");
    EXPECT_EQ(stored.phones, std::vector<std::string>{"Tel\xE9"
                                                      "fono \xF1"});
    quit();

    // The file holds the contact and a new start shows it as it was typed.
    const Book book = readBook("data.vlt");
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(book.contacts.begin()->second.address,
              "D\xED"
              "a \x80 Tel\xE9"
              "fonos Cr\xE9"
              "ditos \xF1");

    start();
    clickLine("ListBox3", 0);
    EXPECT_EQ(edit("LabeledEdit1")->text(), names);
    EXPECT_EQ(edit("LabeledEdit2")->text(), surnames);
    EXPECT_EQ(edit("LabeledEdit3")->text(), address);
    EXPECT_EQ(combo("ComboBox1")->currentText(), q("D\xED"
                                                   "a"));
    EXPECT_EQ(memo()->toPlainText(), q("\xBF"
                                       "Qu\xE9 tal? 50 \x80"));
    EXPECT_EQ(lines("ListBox1"), QStringList{q("Tel\xE9"
                                               "fono \xF1")});
    EXPECT_EQ(lines("ListBox2"), QStringList{q("\xF1@example.com")});
    EXPECT_EQ(form().windowTitle(), q("Tarvel: Mar\xED"
                                      "a Jos\xE9 Pe\xF1"
                                      "a Ib\xE1\xF1"
                                      "ez"));
}

// Text the book cannot hold is never changed silently: the field is named and
// nothing is saved until the text changes.
TEST_F(EncodingTest, CharactersOutsideWindows1252AreRefusedNamingTheField) {
    const QString polish = QString(QChar(0x0141)) + "ukasz";
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    struct Case {
        const char* field;  // the caption the message names
        std::function<void()> enter;
    };
    const Case cases[] = {
        {"Nombres", [&] { type("LabeledEdit1", polish); }},
        {"Apellidos", [&] { type("LabeledEdit2", QString(QChar(0x03A9))); }},
        {"Direcci\xF3n", [&] { type("LabeledEdit3", "Calle " + emoji); }},
        {"Notas", [&] { type(memo(), QStringLiteral("Caf\u00E9 \u4E2D")); }},
        {"Tel\xE9"
         "fonos",
         [&] {
             type("LabeledEdit4", "555 " + emoji);
             click("Button1");
         }},
        {"E-mails",
         [&] {
             type("LabeledEdit6", polish + "@example.com");
             click("Button2");
         }},
    };
    start();
    addContact("Ana", "Ruiz", "Centro");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        form().showContact("AnaRuiz");
        c.enter();
        forgetMessages();
        menu("Modificar1");
        ASSERT_EQ(messages().size(), 1);
        EXPECT_TRUE(messages().first().contains(QLatin1Char('"') + q(c.field) + QLatin1Char('"')))
            << messages().first().toStdString();
        Contact stored;
        ASSERT_TRUE(storedContact("AnaRuiz", stored));
        EXPECT_EQ(stored.address, "Centro") << "nothing saved";
        EXPECT_EQ(gConjuntos->resultCount(0), 1);
    }
}

// A search for a character the book cannot hold finds nothing, where its
// '?' would match every stored '?'.
TEST_F(EncodingTest, SearchForCharactersOutsideWindows1252FindsNothing) {
    start();
    addContact("Que", "Pasa?", "Centro");
    type("LabeledEdit7", QString(QChar(0x0141)));
    click("Button3");
    EXPECT_EQ(lines("ListBox3"), QStringList{q("No se encontraron coincidencias... ")});
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 0"));
    type("LabeledEdit7", "?");
    click("Button3");
    EXPECT_EQ(lines("ListBox3"), QStringList{q("Que Pasa? Centro ")});
}

// Pasted line breaks and tabs are kept as blanks in single-line fields and
// list lines; the cipher would turn them into other letters.
TEST_F(EncodingTest, PastedLineBreaksAndTabsAreStoredAsBlanks) {
    start();
    edit("LabeledEdit1")->insert(QStringLiteral("Ana\tMar\u00EDa"));
    edit("LabeledEdit2")->insert(QStringLiteral("Ruiz"));
    edit("LabeledEdit3")->insert(QStringLiteral("Calle Mayor 5\r\nMadrid"));
    edit("LabeledEdit5")->insert(QStringLiteral("http://a\n"));
    list("ListBox1")->addItem(QStringLiteral("555\r\n0123"));
    list("ListBox2")->addItem(QStringLiteral("ana@example.com\t"));
    menu("Agregar1");
    quit();

    const Book book = readBook("data.vlt");
    const std::string key =
        "Ana Mar\xED"
        "aRuiz";
    ASSERT_EQ(book.contacts.count(key), 1u);
    const Contact& stored = book.contacts.at(key);
    EXPECT_EQ(stored.address, "Calle Mayor 5  Madrid");
    EXPECT_EQ(stored.web, "http://a ");
    EXPECT_EQ(stored.phones, std::vector<std::string>{"555  0123"});
    EXPECT_EQ(stored.emails, std::vector<std::string>{"ana@example.com "});
}

TEST_F(EncodingTest, LegacyFileInWindows1252IsShownWithItsAccents) {
    writeBytes("contact.txt", legacyText({person("Se\xF1or",
                                                 "Garc\xED"
                                                 "a",
                                                 "Cami\xF1o \x80")}));
    start();
    EXPECT_EQ(lines("ListBox3"), QStringList{q("Se\xF1or Garc\xED"
                                               "a Cami\xF1o \x80 ")});
}

}  // namespace
}  // namespace contavio::testing
