// Starting and closing the program: which file it reads, what the window
// shows afterwards, and what it leaves in the working folder.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include "Application.h"
#include "GuiTest.h"
#include "engine/Platform.h"

namespace contavio::testing {
namespace {

using StartupTest = GuiTest;

TEST_F(StartupTest, FirstStartInAnEmptyFolderReportsTheMissingDataFile) {
    start();
    EXPECT_EQ(messages(), QStringList{q("No se pudo abrir: data.vlt")});
    EXPECT_EQ(label("Label11")->text(), q("Label11"));
    EXPECT_EQ(list("ListBox3")->count(), 0);
    EXPECT_EQ(form().windowTitle(), q("Contavio"));
    EXPECT_EQ(applicationTitle(), q("Tarvel - Brenholt"));
    ASSERT_NE(gConjuntos, nullptr);
    EXPECT_FALSE(gConjuntos->isEmpty(0));
    EXPECT_TRUE(gCurrentKey.empty());
    EXPECT_FALSE(gResultKeys.has_value());
}

TEST_F(StartupTest, BirthdayPickersShowPromptsAndHoldDaysAndMonths) {
    start();
    QComboBox* day = combo("ComboBox1");
    QComboBox* month = combo("ComboBox2");
    EXPECT_EQ(day->currentText(), q("D\xED"
                                    "a"));
    EXPECT_EQ(month->currentText(), q("Mes"));
    ASSERT_EQ(day->count(), 31);
    EXPECT_EQ(day->itemText(0), q("1"));
    EXPECT_EQ(day->itemText(30), q("31"));
    ASSERT_EQ(month->count(), 12);
    EXPECT_EQ(month->itemText(0), q("Enero"));
    EXPECT_EQ(month->itemText(8), q("Setiembre"));
    EXPECT_EQ(month->itemText(11), q("Diciembre"));
    EXPECT_EQ(day->findText(q("D\xED"
                              "a")),
              -1)
        << "the prompt is no item";
}

TEST_F(StartupTest, ClosingAfterTheFirstStartWritesTheEmptyContactSet) {
    start();
    quit();
    ASSERT_TRUE(fileExists("data.vlt"));
    const Book book = readBook("data.vlt");
    ASSERT_TRUE(book.loaded);
    EXPECT_EQ(book.name, "Contacto");
    EXPECT_EQ(book.data, 0);
    EXPECT_EQ(book.keyField, 0);
    EXPECT_EQ(book.count, 0);
    EXPECT_EQ(book.nStr, 8);
    EXPECT_EQ(book.nStrList, 2);
    EXPECT_EQ(gConjuntos, nullptr) << "close-down frees the collection";
}

TEST_F(StartupTest, SecondStartReadsTheDataFileSilentlyAndFindsNoContacts) {
    start();
    quit();
    forgetMessages();

    start();
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(lines("ListBox3"), QStringList{q("No se encontraron coincidencias... ")});
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 0"));
    EXPECT_FALSE(gResultKeys.has_value());
}

TEST_F(StartupTest, SecondStartListsTheSavedContactsInTextOrder) {
    start();
    addContact("Zoe", "Alba", "Calle 1");
    addContact("ana", "Bosch", "Calle 2");
    addContact("Luis", "Mora", "");
    quit();
    forgetMessages();

    start();
    EXPECT_TRUE(messages().isEmpty());
    EXPECT_EQ(lines("ListBox3"),
              (QStringList{q("ana Bosch Calle 2 "), q("Luis Mora n/a "), q("Zoe Alba Calle 1 ")}));
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 3"));
}

TEST_F(StartupTest, LegacyFileIsReadAndMovedIntoTheDataFileAtClose) {
    Contact ana = person("Ana", "Torres", "Calle Mayor 5");
    ana.phones = {"111", "222"};
    ana.emails = {"ana@example.com"};
    Contact bruno = person("Bruno", "Paz", "Plaza 2");
    writeBytes("contact.txt", legacyText({ana, bruno}));

    start();
    EXPECT_TRUE(messages().isEmpty()) << "data.vlt is not even tried";
    EXPECT_EQ(lines("ListBox3"),
              (QStringList{q("Ana Torres Calle Mayor 5 "), q("Bruno Paz Plaza 2 ")}));
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 2"));
    quit();

    EXPECT_FALSE(fileExists("contact.txt"));
    const Book book = readBook("data.vlt");
    ASSERT_EQ(book.contacts.size(), 2u);
    const Contact& stored = book.contacts.at("AnaTorres");
    EXPECT_EQ(stored.address, "Calle Mayor 5");
    // Read from the legacy file (pushed: 222, 111), written head first and
    // read back pushed once more.
    EXPECT_EQ(stored.phones, (std::vector<std::string>{"111", "222"}));
    EXPECT_EQ(stored.emails, std::vector<std::string>{"ana@example.com"});
    EXPECT_TRUE(book.contacts.count("BrunoPaz"));
}

TEST_F(StartupTest, WithBothFilesOnlyTheLegacyFileIsReadAndItReplacesTheDataFile) {
    start();
    addContact("Viejo", "Contacto", "Calle Vieja");
    quit();
    ASSERT_EQ(readBook("data.vlt").contacts.size(), 1u);

    writeBytes("contact.txt", legacyText({person("Nueva", "Persona", "Calle Nueva")}));
    start();
    EXPECT_EQ(lines("ListBox3"), QStringList{q("Nueva Persona Calle Nueva ")});
    quit();

    EXPECT_FALSE(fileExists("contact.txt"));
    const Book book = readBook("data.vlt");
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_TRUE(book.contacts.count("NuevaPersona"));
}

TEST_F(StartupTest, DataFileWithoutContactsStartsWithTheNoMatchLine) {
    start();
    quit();
    start();
    ASSERT_NE(gConjuntos, nullptr);
    ASSERT_FALSE(gConjuntos->isEmpty(0));
    EXPECT_EQ(gConjuntos->sets[0]->size, 1) << "the set read from the file, not a new one";
    EXPECT_EQ(label("Label11")->text(), q("Soluciones: 0"));
}

TEST_F(StartupTest, ARestartReversesTheStoredListsOnceMore) {
    start();
    addContact("Eva", "Luna", "Sur 1", {"x", "y", "z"}, {"e1", "e2"});
    clickLine("ListBox3", 0);
    EXPECT_EQ(lines("ListBox1"), (QStringList{"z", "y", "x"}));
    quit();

    start();
    clickLine("ListBox3", 0);
    EXPECT_EQ(lines("ListBox1"), (QStringList{"x", "y", "z"}));
    EXPECT_EQ(lines("ListBox2"), (QStringList{"e1", "e2"}));
}

TEST_F(StartupTest, SalirClosesTheWindowAndSavesTheChangesOfTheRun) {
    start();
    addContact("Rosa", "Vidal", "Norte 3", {"555"});
    quit();
    const Book book = readBook("data.vlt");
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(book.contacts.at("RosaVidal").phones, std::vector<std::string>{"555"});
}

TEST_F(StartupTest, TheWindowsCloseButtonRunsTheSameCloseDown) {
    start();
    addContact("Rosa", "Vidal", "Norte 3");
    form().close();
    EXPECT_TRUE(form().closedDown());
    EXPECT_EQ(readBook("data.vlt").contacts.size(), 1u);
}

TEST_F(StartupTest, TheStoreWritesNumbersWithTheUsersDecimalSeparator) {
    setDecimalSeparator('#');
    prepareApplication();
    const QString point = QLocale::system().decimalPoint();
    ASSERT_EQ(point.size(), 1);
    EXPECT_EQ(decimalSeparator(), point.at(0).toLatin1());
}

TEST(ProgramTest, WithoutADisplayItSaysHowToGetOne) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(CONTAVIO_PROGRAM), {});
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 1);
    const QString said = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_TRUE(said.contains("DISPLAY")) << said.toStdString();
    EXPECT_TRUE(said.contains("xvfb-run")) << said.toStdString();
    EXPECT_FALSE(said.contains("qt.qpa")) << "no error of Qt's own";
}

TEST(ProgramTest, AnyOfTheDisplayVariablesCountsAsADisplay) {
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    qunsetenv("DISPLAY");
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("QT_QPA_PLATFORM");
    EXPECT_FALSE(hasDisplay());
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(hasDisplay());
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("DISPLAY", ":0");
    EXPECT_TRUE(hasDisplay());
    qunsetenv("DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(hasDisplay());
    for (const auto& [name, value] :
         {std::pair{"DISPLAY", display}, std::pair{"WAYLAND_DISPLAY", wayland},
          std::pair{"QT_QPA_PLATFORM", platform}}) {
        if (value.isEmpty()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
}

}  // namespace
}  // namespace contavio::testing
