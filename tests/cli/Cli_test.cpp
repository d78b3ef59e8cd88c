// contavio-book run as a person or a script runs it: every command, its
// output, its exit status and what it leaves in the book's folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <ctime>
#include <filesystem>

#include "BookProgram.h"
#include "exchange/KeptCopies.h"
#include "persistence/BookLock.h"

namespace {

constexpr char kCards[] =
    "\xEF\xBB\xBF"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ruiz;Ana;;;\r\nFN:Ana Ruiz\r\n"
    "EMAIL;TYPE=work:ana@example.com\r\nEMAIL:ana.ruiz@example.org\r\n"
    "ADR;TYPE=home:;;Calle Mayor 5;Madrid;;;\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nN:G\xC3\xB3mez;Jos\xC3\xA9;;;\r\nTEL:600 111 222\r\n"
    "NOTE:una nota que sigue\r\n  en otra l\xC3\xADnea\r\nEND:VCARD\r\n";

class CliTest : public BookProgramTest {
  protected:
    QStringList names() const { return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden); }
};

TEST_F(CliTest, BadUsageSaysWhyAndExitsWithTwo) {
    const QStringList cases[] = {{},
                                 {"bogus"},
                                 {"--bogus", "list"},
                                 {"export"},
                                 {"export", "a.vcf", "--vcard", "2.1"},
                                 {"export", "a.vcf", "b.vcf"},
                                 {"import"},
                                 {"import", "--merge", "a.vcf"},
                                 {"query"},
                                 {"list", "a", "b"},
                                 {"check", "now"}};
    for (const QStringList& args : cases) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("uso: contavio-book")) << args.join(' ').toStdString();
    }
    EXPECT_TRUE(names().isEmpty()) << "nothing written";
    const Outcome help = run({"import", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("--replace"));
}

TEST_F(CliTest, EveryCommandOnABookMadeByImport) {
    EXPECT_EQ(run({"check"}).status, 1) << "no book yet";
    write("tel.vcf", kCards);
    Outcome r = run({"import", "tel.vcf"});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString::fromUtf8("añadidos 2, combinados 0, sin cambios 0, avisos 0\n"));
    EXPECT_EQ(run({"import", "tel.vcf"}).out,
              QString::fromUtf8("añadidos 0, combinados 0, sin cambios 2, avisos 0\n"));

    // Copies a sync kept before it changed Ana, as it keeps them.
    contavio::KeptCopies copies(file("contavio-sync-kept"), std::time(nullptr));
    copies.keepContacts({{.firstNames = "Ana",
                          .surnames = "Ruiz",
                          .address = "Calle Vieja 1",
                          .emails = {"ana@example.com"}}});
    copies.keepCard("ana.vcf", kCards);
    const QString kept = QString::fromStdString(copies.folder());
    std::filesystem::create_directory(file("vdir"));

    const struct {
        QStringList args;
        int status;
        QString out;
    } cases[] = {
        {{"list"}, 0, QString::fromUtf8("Ana Ruiz Calle Mayor 5, Madrid \nJosé Gómez n/a \n")},
        {{"list", "MAYOR"}, 0, "Ana Ruiz Calle Mayor 5, Madrid \n"},
        {{"list", "nadie"}, 0, ""},
        {{"list", QString::fromUtf8("Ł")}, 0, ""},
        {{"query", "ruiz"},
         0,
         "Contavio: 2 e-mails\nana@example.com\tAna Ruiz\t\nana.ruiz@example.org\tAna Ruiz\t\n"},
        {{"query", "example.org"}, 0, "Contavio: 1 e-mails\nana.ruiz@example.org\tAna Ruiz\t\n"},
        {{"check"}, 0, QString::fromUtf8("data.vlt: 2 contactos; se leyó completa.\n")},
        {{"--book", "data.vlt", "check"},
         0,
         QString::fromUtf8("./data.vlt: 2 contactos; se leyó completa.\n")},
        // Never over the book, its files or another book.
        {{"export", "data.vlt"}, 1, ""},
        {{"export", "contact.txt"}, 1, ""},
        {{"export", ".contavio-sync-00ff"}, 1, ""},
        {{"export", "copia.vlt"}, 1, ""},
        // What a sync kept comes back whole: Ana as she was, not merged.
        {{"restore", kept, "vdir"}, 0, "contactos restaurados: 1, tarjetas restauradas: 1\n"},
        {{"list", "ruiz"}, 0, "Ana Ruiz Calle Vieja 1 \n"},
        {{"query", "ruiz"}, 0, "Contavio: 1 e-mails\nana@example.com\tAna Ruiz\t\n"},
    };
    write("copia.vlt", read("data.vlt"));
    for (const auto& c : cases) {
        r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_EQ(r.out, c.out) << c.args.join(' ').toStdString();
    }

    EXPECT_EQ(read("vdir/ana.vcf"), kCards);

    // A folder emptied after a sync: the dry run the refusal advises says
    // what the sync would do, by contact, and that it would stop.
    std::filesystem::create_directory(file("v2"));
    ASSERT_EQ(run({"sync", "v2"}).status, 0);
    for (const auto& card : std::filesystem::directory_iterator(file("v2")))
        std::filesystem::remove(card.path());
    r = run({"sync", "--dry-run", "v2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("en la agenda, se borra: «Ana Ruiz»")))
        << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("Sin --force-delete")) << r.err.toStdString();
    EXPECT_EQ(run({"sync", "v2"}).status, 1);

    r = run({"export", "-", "--vcard", "3.0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.count("BEGIN:VCARD"), 2);
    EXPECT_TRUE(r.out.contains("VERSION:3.0"));
    EXPECT_TRUE(r.out.contains(QString::fromUtf8("NOTE:una nota que sigue en otra línea")));
    ASSERT_EQ(run({"export", "todo.vcf"}).status, 0);
    EXPECT_EQ(read("todo.vcf").find("VERSION:4.0\r\n") != std::string::npos, true);
}

TEST_F(CliTest, WritingRefusesWhileAnotherProgramHoldsTheBookAndOnBadInput) {
    write("tel.vcf", kCards);
    ASSERT_EQ(run({"import", "tel.vcf"}).status, 0);
    const std::string book = read("data.vlt");
    // The same book through a link to the file and a link to its folder.
    std::filesystem::create_directory(file("otra"));
    std::filesystem::create_symlink("../data.vlt", file("otra/enlace.vlt"));
    std::filesystem::create_directory_symlink(dir_.path().toStdString(), file("carpeta"));
    {
        const contavio::BookLock other(dir_.path().toStdString());
        ASSERT_EQ(other.state(), contavio::BookLock::State::Held);
        const QString holder =
            QString("abierta en otro programa (Cli_test, proceso %1)").arg(getpid());
        const QString unsaved = QString::fromUtf8("los cambios sin guardar no se ven");
        const struct {
            QStringList args;
            int status;
            QString said;
        } cases[] = {
            {{"import", "tel.vcf"}, 1, holder},
            {{"--book", "otra/enlace.vlt", "import", "tel.vcf"}, 1, holder},
            {{"--book", "carpeta", "delete", "Ana", "Ruiz"}, 1, holder},
            {{"list"}, 0, unsaved},
            {{"--book", "otra/enlace.vlt", "query", "ana"}, 0, unsaved},
            {{"--book", "carpeta", "export", "-"}, 0, unsaved},
        };
        for (const auto& c : cases) {
            const Outcome r = run(c.args);
            EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
            EXPECT_TRUE(r.err.contains(c.said)) << r.err.toStdString();
        }
    }
    EXPECT_TRUE(run({"list"}).err.isEmpty()) << "no warning once the book is free";
    const struct {
        const char* why;
        QStringList args;
    } refused[] = {
        {"a missing file", {"import", "tel.vcf", "falta.vcf"}},
        {"a file without cards", {"import", "vacio.vcf"}},
        {"a second name of the book", {"--book", "otra/duro.vlt", "import", "tel.vcf"}},
    };
    write("vacio.vcf", "esto no es una tarjeta\n");
    std::filesystem::create_hard_link(file("data.vlt"), file("otra/duro.vlt"));
    for (const auto& c : refused) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.why;
        EXPECT_FALSE(r.err.isEmpty()) << c.why;
    }
    EXPECT_EQ(read("data.vlt"), book) << "the book is unchanged";
    std::filesystem::remove(file("otra/duro.vlt"));

    write("data.vlt", book.substr(0, book.size() / 2));
    const Outcome damaged = run({"import", "tel.vcf"});
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(read("data.vlt"), book.substr(0, book.size() / 2)) << "a damaged book is not written";
    EXPECT_EQ(run({"check"}).status, 1);
}

TEST_F(CliTest, CommandsFindContactsAndFilesAsTheWindowDoes) {
    write("sin-nombre.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ruiz;;;;\r\nEND:VCARD\r\n");
    ASSERT_EQ(run({"import", "sin-nombre.vcf"}).status, 0);
    ASSERT_EQ(run({"list"}).out, "n/a Ruiz n/a \n");
    const Outcome deleted = run({"delete", "", "Ruiz"});
    EXPECT_EQ(deleted.status, 0) << deleted.err.toStdString();
    EXPECT_EQ(deleted.out, "Contacto eliminado: n/a Ruiz\n");

    write("contact.txt", "no es una agenda\r\n");  // read instead of data.vlt
    const Outcome checked = run({"check"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_TRUE(checked.out.startsWith("contact.txt: ")) << checked.out.toStdString();
}

}  // namespace
