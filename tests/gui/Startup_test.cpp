// Starting and closing the program: which file it reads, what the window
// shows afterwards, and what it leaves in the working folder.
#include <sys/stat.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>

#include "GuiTest.h"
#include "app/Application.h"
#include "engine/Platform.h"

namespace contavio::testing {
namespace {

using StartupTest = GuiTest;

TEST_F(StartupTest, FirstStartInAnEmptyFolderReportsTheMissingDataFile) {
    start();
    EXPECT_EQ(messages(), QStringList{q("No se pudo abrir: data.vlt")});
    EXPECT_EQ(label("Label11")->text(), q("Label11"));
    EXPECT_EQ(view("ListBox3")->model()->rowCount(), 0);
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

TEST_F(StartupTest, ASecondWindowOnTheSameBookTouchesNothingAndSaysSo) {
    writeBytes("contact.txt", legacyText({person("Ana", "Ruiz", "Centro")}));
    start();
    forgetMessages();
    {
        TForm1 second;
        EXPECT_TRUE(second.bookBusy());
        EXPECT_TRUE(second.closedDown()) << "nothing to save";
        EXPECT_EQ(messages(), QStringList{q("La agenda de esta carpeta ya est\xE1 abierta en otra "
                                            "ventana de Contavio. Use esa ventana.")});
    }
    EXPECT_EQ(lines("ListBox3"), QStringList{"Ana Ruiz Centro "}) << "the first is untouched";
    EXPECT_EQ(gConjuntos->resultCount(0), 1);
    quit();
    EXPECT_FALSE(fileExists("contact.txt"));
    start();
    EXPECT_EQ(lines("ListBox3"), QStringList{"Ana Ruiz Centro "}) << "the lock went with the first";
}

// Whether process pid holds the kernel's lock on folder (as /proc/locks
// lists it), seen without taking the lock.
bool holdsLock(qint64 pid, const QString& folder) {
    struct stat info {};
    if (::stat(folder.toLocal8Bit().constData(), &info) != 0) return false;
    std::ifstream locks("/proc/locks");
    const std::string owner = " " + std::to_string(pid) + " ";
    const std::string node = ":" + std::to_string(info.st_ino) + " ";
    for (std::string line; std::getline(locks, line);) {
        if (line.find("FLOCK") != std::string::npos && line.find(owner) != std::string::npos &&
            line.find(node) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The window and contavio-book name whoever else has the book: contavio-book
// (held here while it waits for a writer of the book, a FIFO) or any other
// program.
TEST_F(StartupTest, TheWindowAndTheCommandLineSayWhichProgramHasTheBook) {
    ASSERT_EQ(::mkfifo("data.vlt", 0600), 0);
    const struct {
        QString program;
        QStringList args;
        const char* holder;
        const char* toCommandLine;
    } cases[] = {
        {CONTAVIO_BOOK,
         {"delete", "Ana", "Ruiz"},
         "contavio-book (proceso %1)",
         "otro contavio-book (proceso %1)"},
        {"/usr/bin/python3",
         {"-c",
          "import fcntl, os, sys\n"
          "fcntl.flock(os.open('.', os.O_RDONLY), fcntl.LOCK_EX)\n"
          "sys.stdin.read()"},
         "otro programa (python3, proceso %1)",
         "otro programa (python3, proceso %1)"},
    };
    for (const auto& c : cases) {
        QProcess holder;
        holder.start(c.program, c.args);
        ASSERT_TRUE(holder.waitForStarted(30000));
        for (int i = 0; i < 600 && !holdsLock(holder.processId(), "."); ++i) QTest::qWait(50);
        ASSERT_TRUE(holdsLock(holder.processId(), ".")) << c.holder;
        forgetMessages();
        {
            TForm1 window;
            EXPECT_TRUE(window.bookBusy());
        }
        EXPECT_EQ(messages(), QStringList{q("La agenda de esta carpeta est\xE1 abierta en ") +
                                          QString(c.holder).arg(holder.processId()) +
                                          ". Vuelva a abrir Contavio cuando termine."});
        QProcess refused;
        refused.start(QStringLiteral(CONTAVIO_BOOK), {"delete", "Ana", "Ruiz"});
        ASSERT_TRUE(refused.waitForFinished(30000));
        EXPECT_EQ(refused.exitCode(), 1);
        EXPECT_TRUE(QString::fromUtf8(refused.readAllStandardError())
                        .contains(QString(c.toCommandLine).arg(holder.processId())));
        holder.kill();
        ASSERT_TRUE(holder.waitForFinished(30000));
    }
}

// Names and bytes of the files in a folder.
std::map<std::string, std::string> filesIn(const QString& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString())) {
        files[entry.path().filename().string()] = readBytes(entry.path().string());
    }
    return files;
}

TEST(ProgramTest, OneProgramPerBookAndAKilledOneDoesNotBlockTheNext) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeBytes(dir.filePath("contact.txt").toStdString(),
               legacyText({person("Ana", "Ruiz", "Centro")}));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    const auto launch = [&](QProcess& program) {
        program.setWorkingDirectory(dir.path());
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(CONTAVIO_PROGRAM), {});
        ASSERT_TRUE(program.waitForStarted(30000));
    };
    const auto waitUntilItHoldsTheBook = [&](QProcess& program) {
        for (int i = 0; i < 600 && !holdsLock(program.processId(), dir.path()); ++i) {
            QTest::qWait(50);
        }
        return holdsLock(program.processId(), dir.path());
    };

    QProcess first;
    launch(first);
    ASSERT_TRUE(waitUntilItHoldsTheBook(first));
    const std::map<std::string, std::string> before = filesIn(dir.path());

    QProcess second;
    launch(second);
    QString said;
    for (int i = 0; i < 600 && !said.contains(q("ya est\xE1 abierta")); ++i) {
        second.waitForReadyRead(50);
        said += QString::fromLocal8Bit(second.readAllStandardError());
    }
    EXPECT_TRUE(said.contains(q("ya est\xE1 abierta en otra ventana"))) << said.toStdString();
    EXPECT_EQ(filesIn(dir.path()), before) << "while it tells the user";
    second.terminate();  // as if the user had read its box
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(filesIn(dir.path()), before) << "after it ended";

    QProcess book;
    book.setWorkingDirectory(dir.path());
    book.start(QStringLiteral(CONTAVIO_BOOK), {"delete", "Ana", "Ruiz"});
    ASSERT_TRUE(book.waitForFinished(30000));
    EXPECT_EQ(book.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(book.readAllStandardError())
                    .contains(q("abierta en la ventana de Contavio")));
    EXPECT_EQ(filesIn(dir.path()), before) << "after contavio-book was refused";

    first.kill();  // SIGKILL: no close-down runs
    ASSERT_TRUE(first.waitForFinished(30000));
    QProcess third;
    launch(third);
    ASSERT_TRUE(waitUntilItHoldsTheBook(third)) << "the killed program's lock is gone";
    third.terminate();  // closes the window, which saves
    ASSERT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_EQ(readBook(dir.filePath("data.vlt").toStdString()).contacts.count("AnaRuiz"), 1u);
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
