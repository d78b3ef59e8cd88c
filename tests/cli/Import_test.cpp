// contavio-book import on cards from the world: what it writes, what it
// says and how it ends.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "BookFile.h"
#include "BookProgram.h"

namespace contavio {
namespace {

const std::filesystem::path kCards = CONTAVIO_CARDS;

class ImportTest : public BookProgramTest {
  protected:
    Outcome import(const char* card) {
        return run({"import", QString::fromStdString((kCards / card).string())});
    }
    std::string book() const { return file("data.vlt"); }
    std::string bookBytes() const { return read("data.vlt"); }
    QStringList listed() { return run({"list"}).out.split('\n', Qt::SkipEmptyParts); }
};

TEST_F(ImportTest, TheReportNamesWhatHappenedAndTheStatusTellsADamagedCard) {
    const struct {
        const char* card;
        int status;
        const char* out;
        QStringList err;  // each appears on standard error
        int contacts;
    } rows[] = {
        {"cut_short.vcf",
         1,
         "añadidos 1, combinados 0, sin cambios 0, avisos 0, dañadas 1\n",
         {"agenda nueva: ", "dañada: Luis Mora: ", "cut_short.vcf, tarjeta 2"},
         1},
        {"same_name_twice.vcf",
         0,
         "añadidos 1, combinados 1, sin cambios 0, avisos 0\n",
         {"combinado: Ana Ruiz"},
         1},
        {"transliterated_twins.vcf",
         0,
         "añadidos 2, combinados 0, sin cambios 0, avisos 3\n",
         {"Ivan Petrov: texto transliterado a letras latinas en Nombres",
          "Ivan Petrov (2): otra persona con el mismo nombre"},
         2},
        {"android_nameless_notes.vcf",
         0,
         "añadidos 2, combinados 0, sin cambios 0, avisos 3\n",
         {" (2): otra persona con el mismo nombre"},
         2},
        {"android_nameless_several.vcf",
         0,
         "añadidos 4, combinados 0, sin cambios 0, avisos 4\n",
         {},
         4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.card);
        std::filesystem::remove(book());
        const Outcome r = import(row.card);
        EXPECT_EQ(r.status, row.status) << r.err.toStdString();
        EXPECT_EQ(r.out, QString::fromUtf8(row.out));
        for (const QString& text : row.err)
            EXPECT_TRUE(r.err.contains(text)) << r.err.toStdString();
        EXPECT_EQ(listed().size(), row.contacts);
    }
    // Cards without a name again: nothing new; other ones: new contacts.
    EXPECT_TRUE(import("android_nameless_several.vcf").out.contains("sin cambios 4"));
    EXPECT_TRUE(import("android_nameless_notes.vcf").out.contains(QString::fromUtf8("añadidos 2")));
    EXPECT_TRUE(import("android_nameless_notes.vcf").out.contains("sin cambios 2"));
    EXPECT_EQ(listed().size(), 6);

    // However many cards say nothing but a note, each is a contact of its own.
    std::string many;
    for (int i = 0; i < 150; ++i)
        many +=
            "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE:Nota " + std::to_string(i) + "\r\nEND:VCARD\r\n";
    write("many.vcf", many);
    EXPECT_TRUE(
        run({"import", QString::fromStdString(file("many.vcf"))})
            .out.startsWith(QString::fromUtf8("añadidos 150, combinados 0, sin cambios 0")));
    EXPECT_EQ(listed().size(), 156);
}

TEST_F(ImportTest, AnImportThatChangesNothingWritesNothing) {
    // Blanks around the names and at the end of the note, as typed in the
    // window; an export trims them.
    ContactData ana{.firstNames = " Ana ",
                    .surnames = "Ruiz ",
                    .address = "n/a",
                    .web = "n/a",
                    .day =
                        "D\xED"
                        "a",
                    .month = "Mes",
                    .notes = "llamar tarde  ",
                    .phones = {"600 111 222"}};
    saveBookFile(book(), {{" Ana Ruiz ", ana}});
    ASSERT_EQ(run({"export", "todo.vcf"}).status, 0);
    std::filesystem::last_write_time(
        book(), std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    const auto time = std::filesystem::last_write_time(book());
    const std::string bytes = bookBytes();

    const Outcome again = run({"import", "todo.vcf"});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(again.out, QString::fromUtf8("añadidos 0, combinados 0, sin cambios 1, avisos 0\n"));
    EXPECT_EQ(bookBytes(), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(book()), time);

    // Nor does a repeated import of cards from elsewhere.
    ASSERT_EQ(import("utf8_scripts.vcf").status, 0);
    const auto before = std::filesystem::last_write_time(book());
    const std::string imported = bookBytes();
    EXPECT_TRUE(import("utf8_scripts.vcf").out.contains("sin cambios 6"));
    EXPECT_EQ(bookBytes(), imported);
    EXPECT_EQ(std::filesystem::last_write_time(book()), before);
    EXPECT_EQ(listed().size(), 7);
}

}  // namespace
}  // namespace contavio
