// "Programa" > "Importar vCard..." and "Exportar vCard...": the desktop's file
// dialogs (replaced here), the report of an import, and a file that reads
// back as the book.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "GuiTest.h"
#include "exchange/CardContact.h"

namespace contavio::testing {
namespace {

// Two cards as phones write them: 2.1 quoted-printable in Latin-1, and 4.0.
constexpr char kCards[] =
    "BEGIN:VCARD\r\nVERSION:2.1\r\n"
    "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:G=F3mez;Jos=E9\r\n"
    "TEL;CELL:600 111 222\r\nTEL;HOME:91 555 0000\r\nBDAY:1980-03-12\r\n"
    "END:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Ana Ruiz\r\nN:Ruiz;Ana;;;\r\n"
    "EMAIL:ana@example.com\r\nORG:Acme\r\nEND:VCARD\r\n";

class VCardMenuTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        setFileChooser([this](const FileRequest& request) {
            requests.push_back(request);
            return chosen;
        });
    }
    void TearDown() override {
        setFileChooser({});
        GuiTest::TearDown();
    }
    std::vector<FileRequest> requests;
    QStringList chosen;
};

TEST_F(VCardMenuTest, EntriesStandAboveSalirUnderPrograma) {
    start();
    const QList<QAction*> actions = find<QMenu>("Programa1")->actions();
    QStringList captions;
    for (const QAction* action : actions) captions.append(action->text());
    EXPECT_EQ(captions, (QStringList{"Importar vCard...", "Exportar vCard...", "Cuenta CardDAV...",
                                     "Sincronizar ahora", "Salir"}));
}

TEST_F(VCardMenuTest, ImportReportsAndListsTheCardsAndASecondImportChangesNothing) {
    writeBytes("tel.vcf", kCards);
    start();
    forgetMessages();
    chosen = {path("tel.vcf")};
    menu("Importar1");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].save);
    ASSERT_EQ(messages().size(), 1);
    const QString report = messages().first();
    EXPECT_TRUE(
        report.startsWith(q("Importaci\xF3n de vCard: a\xF1"
                            "adidos 2, combinados 0, "
                            "sin cambios 0, avisos 2.")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(q("a\xF1o de nacimiento descartado (1980)")))
        << report.toStdString();
    EXPECT_EQ(lines("ListBox3"), (QStringList{"Ana Ruiz n/a ", q("Jos\xE9 G\xF3mez n/a ")}));

    Contact jose;
    ASSERT_TRUE(storedContact("Jos\xE9G\xF3mez", jose));
    EXPECT_EQ(jose.day, "12");
    EXPECT_EQ(jose.month, "Marzo");
    EXPECT_EQ(jose.phones, (std::vector<std::string>{"600 111 222", "91 555 0000"}))
        << "shown in card order";

    forgetMessages();
    menu("Importar1");
    ASSERT_EQ(messages().size(), 1);
    EXPECT_TRUE(messages().first().contains("a\u00F1adidos 0, combinados 0, sin cambios 2"))
        << messages().first().toStdString();
}

TEST_F(VCardMenuTest, ExportWritesEveryContactAndCancellingWritesNothing) {
    start();
    addContact("Ana", "Ruiz", "Centro", {"555 0123", "555 9999"}, {"ana@example.com"});
    forgetMessages();
    menu("Exportar1");  // cancelled: no file chosen
    EXPECT_TRUE(filesStartingWith("contactos").empty());
    EXPECT_TRUE(messages().isEmpty());

    type("LabeledEdit7", "Nadie");
    click("Button3");
    chosen = {path("contactos.vcf")};
    menu("Exportar1");
    EXPECT_EQ(gConjuntos->resultCount(0), 0) << "the window's results stay as listed";
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[1].save);
    EXPECT_EQ(messages(), QStringList{"1 contactos exportados a " + path("contactos.vcf") + "."});
    const std::vector<CardImport> back = importVCards(readBytes("contactos.vcf"));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].contact.address, "Centro");
    EXPECT_EQ(back[0].contact.phones, (std::vector<std::string>{"555 9999", "555 0123"}))
        << "in the order the window shows the picked contact";
    EXPECT_EQ(back[0].contact.day, "") << "the picker's prompt is no birthday";
    EXPECT_EQ(back[0].contact.notes, "") << "\"n/a\" is not exported";
}

}  // namespace
}  // namespace contavio::testing
