#include "exchange/VCard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/CardContact.h"
#include "exchange/ContactMerge.h"
#include "exchange/NameUuid.h"
#include "exchange/VCardText.h"

namespace contavio {
namespace {

using Warnings = std::vector<std::string>;

std::vector<std::string> physicalLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = text.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "every line ends with CR LF";
        if (end == std::string::npos) break;
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

// Samples in the shapes that phones and address books write. Expected texts
// are Windows-1252.
struct ImportRow {
    const char* what;
    std::string text;
    ContactData contact;
    Warnings warnings;
};

TEST(VCardImport, SamplesFromPhonesAndAddressBooks) {
    const ImportRow rows[] = {
        {"2.1 phone: quoted-printable UTF-8, soft break, bare params, indentless base64",
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:P=C3=A9rez Garc=C3=ADa;Jos=C3=A9;;;\r\n"
         "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Jos=C3=A9 P=C3=A9rez Garc=C3=ADa\r\n"
         "TEL;CELL:+34 600 111 222\r\nTEL;WORK;VOICE:91 555 12 34\r\n"
         "EMAIL;HOME:jose@example.com\r\n"
         "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Primera l=C3=ADnea=0D=0ASegunda l=C3=AD=\r\n"
         "nea, fin\r\n"
         "PHOTO;ENCODING=BASE64;JPEG:/9j/4AAQSkZJRgABAQ\r\nAAAQABAAD/2wBDAAgGBgcGBQgHBwcJ\r\n\r\n"
         "END:VCARD\r\n",
         {.firstNames = "Jos\xE9",
          .surnames = "P\xE9rez Garc\xED"
                      "a",
          .notes = "Primera l\xED"
                   "nea  Segunda l\xED"
                   "nea, fin",
          .phones = {"+34 600 111 222", "91 555 12 34"},
          .emails = {"jose@example.com"}},
         {"foto no importada"}},
        {"2.1 with ISO-8859-1 bytes and quoted-printable, year in BDAY",
         "BEGIN:VCARD\r\nVERSION:2.1\r\n"
         "N;CHARSET=ISO-8859-1;ENCODING=QUOTED-PRINTABLE:Mu=F1oz;Ana=20Mar=EDa\r\n"
         "TEL;HOME:+34-91-000\r\n"
         "ADR;HOME;CHARSET=ISO-8859-1:;;Calle Ma\xF1"
         "ana 3;Le\xF3n;;24001;Espa\xF1"
         "a\r\n"
         "BDAY:19850312\r\nEND:VCARD\r\n",
         {.firstNames = "Ana Mar\xED"
                        "a",
          .surnames = "Mu\xF1oz",
          .address = "Calle Ma\xF1"
                     "ana 3, 24001 Le\xF3n, Espa\xF1"
                     "a",
          .day = "12",
          .month = "Marzo",
          .phones = {"+34-91-000"}},
         {"a\xF1o de nacimiento descartado (1985)"}},
        {"3.0 address book: BOM, LF only, groups, folded note, second ADR",
         "\xEF\xBB\xBF"
         "BEGIN:VCARD\nVERSION:3.0\nPRODID:-//Apple Inc.//macOS 14.0//EN\n"
         "N:Smith;John;Q.;Dr.;\nFN:Dr. John Q. Smith\nORG:Acme\\, Inc.;Ventas\nTITLE:Jefe\n"
         "item1.TEL;type=CELL;type=VOICE;type=pref:+1 555 0100\n"
         "TEL;TYPE=work,voice:+1 555 0101\nitem1.X-ABLabel:_$!<Mobile>!$_\n"
         "EMAIL;type=INTERNET;type=HOME:john@example.org\n"
         "item2.ADR;type=HOME:;;1 Main St\\nApt 2;Springfield;IL;62701;USA\n"
         "ADR;TYPE=WORK:;;2 Work Rd;Springfield;;;\n"
         "URL:https://example.org/a\\,b\nBDAY;VALUE=date:1970-01-31T00:00:00Z\n"
         "NOTE:Long note that is folded over\n  two lines\\, with a comma\nEND:VCARD\n",
         {.firstNames = "John Q.",
          .surnames = "Smith",
          .address = "1 Main St Apt 2, 62701 Springfield, IL, USA",
          .web = "https://example.org/a,b",
          .day = "31",
          .month = "Enero",
          .notes = "Long note that is folded over two lines, with a comma",
          .phones = {"+1 555 0100", "+1 555 0101"},
          .emails = {"john@example.org"}},
         {"tratamiento no importado (Dr.)",
          "direcci\xF3n adicional no importada (2 Work Rd, Springfield)",
          "organizaci\xF3n no importada (Acme, Inc.;Ventas)", "cargo no importado (Jefe)",
          "a\xF1o de nacimiento descartado (1970)"}},
        {"4.0: tel URI, quoted params, leap day, characters outside Windows-1252",
         "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Łukasz Ωmega\r\nN:Ωmega;Łukasz;;;\r\n"
         "TEL;VALUE=uri;TYPE=\"voice,home\":tel:+48-22-123\r\nEMAIL;PREF=1:l@example.pl\r\n"
         "BDAY:--0229\r\nADR;LABEL=\"ul. Długa 1\\nWarszawa\":;;ul. Długa 1;Warszawa;;00-001;"
         "Polska\r\nNOTE:emoji 😀 €\r\nX-CUSTOM:1\r\nEND:VCARD\r\n",
         {.firstNames = "Lukasz",
          .surnames = "Omega",
          .address = "ul. Dluga 1, 00-001 Warszawa, Polska",
          .day = "29",
          .month = "Febrero",
          .notes = "emoji ? \x80",
          .phones = {"+48-22-123"},
          .emails = {"l@example.pl"}},
         {"texto transliterado a letras latinas en Nombres",
          "texto transliterado a letras latinas en Apellidos",
          "texto transliterado a letras latinas en Direcci\xF3n",
          "caracteres fuera de Windows-1252 cambiados por '?' en Notas",
          "propiedad X-CUSTOM no importada"}},
        {"no N: FN of four words ends in two surnames; LABEL for the address",
         "BEGIN:VCARD\nVERSION:3.0\nFN:María José García López\nLABEL:Calle 1\\nMadrid\n"
         "BDAY:--09-30\nEND:VCARD\n",
         {.firstNames = "Mar\xED"
                        "a Jos\xE9",
          .surnames = "Garc\xED"
                      "a L\xF3pez",
          .address = "Calle 1, Madrid",
          .day = "30",
          .month = "Setiembre"},
         {}},
        {"no N: 'surnames, first names'; unreadable BDAY",
         "BEGIN:VCARD\nVERSION:3.0\nFN:Pérez, Juan\nBDAY:circa 1900\nEND:VCARD\n",
         {.firstNames = "Juan", .surnames = "P\xE9rez"},
         {"fecha de nacimiento no reconocida (circa 1900)"}},
        {"only an organisation: it becomes the first names",
         "BEGIN:VCARD\nVERSION:3.0\nORG:Taller Sur;Ventas\nTEL:1\nEND:VCARD\n",
         {.firstNames = "Taller Sur", .phones = {"1"}},
         {}},
        {"no name: named after its first e-mail",
         "BEGIN:VCARD\nVERSION:4.0\nN:n/a;;;;\nTEL:1\nEMAIL:a@b\nEND:VCARD\n",
         {.firstNames = "a@b", .phones = {"1"}, .emails = {"a@b"}},
         {"contacto sin nombre: se nombra por su e-mail"}},
    };
    for (const ImportRow& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<CardImport> got = importVCards(row.text);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].contact, row.contact);
        EXPECT_EQ(got[0].warnings, row.warnings);
    }
}

// Latin-1 text as UTF-16LE bytes after the byte-order mark.
std::string utf16le(std::string_view latin1) {
    std::string out = "\xFF\xFE";
    for (char c : latin1) {
        out += c;
        out += '\0';
    }
    return out;
}

// Faults of cards from the world, one row each.
TEST(VCardImport, CardsFromTheWorld) {
    const struct {
        const char* what;
        std::string text;
        ContactData contact;
        Warnings warnings;
        bool damaged = false;
    } rows[] = {
        {"2.1 card nested without AGENT: the parent goes on after it",
         "BEGIN:VCARD\nVERSION:2.1\nN:Jefe;Pedro\nBEGIN:VCARD\nN:Eva\nEND:VCARD\nTEL:91 000\n"
         "END:VCARD\n",
         {.firstNames = "Pedro", .surnames = "Jefe", .phones = {"91 000"}},
         {}},
        {"Apple's \\\" and its year 1604; empty TITLE",
         "BEGIN:VCARD\nVERSION:3.0\nN:Lago;Sara\nTITLE:\nNOTE:Dice \\\"hola\\\"\nBDAY:1604-05-06\n"
         "END:VCARD\n",
         {.firstNames = "Sara",
          .surnames = "Lago",
          .day = "6",
          .month = "Mayo",
          .notes = "Dice \"hola\""},
         {}},
        {"street ending in a comma; no CHARSET, a value that is not UTF-8 as a whole",
         "BEGIN:VCARD\nVERSION:3.0\nN:Vega;Rosa\nADR:;;PLAZA DEL NI\xD1\xBF 3\\,;LE\xD3N;;;\n"
         "END:VCARD\n",
         {.firstNames = "Rosa", .surnames = "Vega", .address = "PLAZA DEL NI\xD1\xBF 3, LE\xD3N"},
         {}},
        {"a part of the address that is only a control character adds no comma",
         "BEGIN:VCARD\nVERSION:4.0\nN:Vega;Rosa\nADR:\x05;;Calle Larga 1;;;;\nEND:VCARD\n",
         {.firstNames = "Rosa", .surnames = "Vega", .address = "Calle Larga 1"},
         {}},
        {"3.0 company: ORG with an unescaped comma is the name, whole",
         "BEGIN:VCARD\nVERSION:3.0\nORG:Acme, Inc.;Ventas\nEND:VCARD\n",
         {.firstNames = "Acme, Inc."},
         {}},
        {"company card with an empty N: the name in order",
         "BEGIN:VCARD\nVERSION:3.0\nN:;;;;\nFN:Talleres P\xC3\xA9rez, S.L.\nEND:VCARD\n",
         {.firstNames = "Talleres P\xE9rez, S.L."},
         {}},
        {"file cut inside a quoted-printable UTF-8 sequence",
         "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:Ib=C3=A1=C3",
         {.surnames = "Ib\xE1"},
         {},
         true},
        {"declared code page, transliterated where Windows-1252 has no letter",
         "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=ISO-8859-2:Wa\xB3\xEAsa;Lech\nEND:VCARD\n",
         {.firstNames = "Lech", .surnames = "Walesa"},
         {"texto transliterado a letras latinas en Apellidos"}},
        {"a code page nobody knows: read as if none were named, and said",
         "BEGIN:VCARD\nVERSION:2.1\nN;CHARSET=X-UNHEARD:S\xE1"
         "ez;Ra\xFAl\nEND:VCARD\n",
         {.firstNames = "Ra\xFAl",
          .surnames = "S\xE1"
                      "ez"},
         {"juego de caracteres desconocido, le\xED"
          "do como UTF-8 o Windows-1252 (X-UNHEARD)"}},
        {"UTF-16 file with its byte-order mark",
         utf16le("BEGIN:VCARD\nN:R;\xF1\nEND:VCARD\n"),
         {.firstNames = "\xF1", .surnames = "R"},
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<CardImport> got = importVCards(row.text);
        if (got.size() != 1u) {
            ADD_FAILURE() << got.size() << " cards";
            continue;
        }
        EXPECT_EQ(got[0].contact, row.contact);
        EXPECT_EQ(got[0].warnings, row.warnings);
        EXPECT_EQ(!got[0].damage.empty(), row.damaged);
    }
}

TEST(VCardImport, FileStructure) {
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> firstNames;
    } rows[] = {
        {"junk between cards, lower-case BEGIN",
         "junk\r\nbegin:vcard\r\nN:;A\r\nend:vcard\r\n"
         "more junk: x\r\nBEGIN:VCARD\nN:;B\nEND:VCARD\n",
         {"A", "B"}},
        {"CR only", "BEGIN:VCARD\rN:;A\rEND:VCARD\rBEGIN:VCARD\rN:;B\rEND:VCARD\r", {"A", "B"}},
        {"card cut off by the end", "BEGIN:VCARD\nN:;A\nEND:VCARD\nBEGIN:VCARD\nN:;B", {"A", "B"}},
        {"missing END: the next BEGIN starts a card",
         "BEGIN:VCARD\nN:;A\nBEGIN:VCARD\nN:;B\nEND:VCARD\n",
         {"A", "B"}},
        {"card nested in AGENT is skipped",
         "BEGIN:VCARD\nN:;A\nAGENT:\nBEGIN:VCARD\nN:;X\nEND:VCARD\nTEL:1\nEND:VCARD\n",
         {"A"}},
        {"lines without ':' and empty names are skipped",
         "BEGIN:VCARD\nnonsense\n:x\nitem1.:y\nN:;A\nEND:VCARD\n",
         {"A"}},
        {"nothing but junk", "hello\n=\n\xFF\xFE", {}},
        {"UTF-16 without a byte-order mark",
         utf16le("BEGIN:VCARD\nN:;A\nEND:VCARD\n").substr(2),
         {"A"}},
        {"single bytes, with the zero bytes of a wide BEGIN in a later line",
         std::string("begin:vcard\nN:;A\nNOTE:B\0E\0G\0I\0N\0\nend:vcard\n", 44),
         {"A"}},
        {"cards joined with cat, each with its byte-order mark",
         "\xEF\xBB\xBF"
         "BEGIN:VCARD\nN:;A\nEND:VCARD\n\xEF\xBB\xBF"
         "BEGIN:VCARD\nN:;B\nEND:VCARD\n",
         {"A", "B"}},
        {"QP soft break right before END does not swallow it",
         "BEGIN:VCARD\nVERSION:2.1\nNOTE;ENCODING=QUOTED-PRINTABLE:x=\nEND:VCARD\n"
         "BEGIN:VCARD\nN:;B\nEND:VCARD\n",
         {"", "B"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> names;
        for (const CardImport& c : importVCards(row.text)) names.push_back(c.contact.firstNames);
        EXPECT_EQ(names, row.firstNames);
    }
}

TEST(VCardFormat, EscapesAndCharsets) {
    EXPECT_EQ(escapeText("a,b;c\\d\r\ne\nf"), "a\\,b\\;c\\\\d\\ne\\nf");
    EXPECT_EQ(unescapeText("a\\,b\\;c\\\\d\\ne\\Nf\\x\\"), "a,b;c\\d\ne\nf\\x\\");
    EXPECT_EQ(splitEscaped("a\\;b;c;", ';'), (std::vector<std::string>{"a\\;b", "c", ""}));
    // Every Windows-1252 byte, the undefined ones included, survives UTF-8.
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
    size_t replaced = 0;
    EXPECT_EQ(utf8ToCp1252("Ł€™\xC3(", &replaced), "?\x80\x99?(");
    EXPECT_EQ(replaced, 2u);
    // Overlong and surrogate forms are not UTF-8: read as Windows-1252.
    EXPECT_EQ(lenientUtf8("\xC0\xAF\xED\xA0\x80"), cp1252ToUtf8("\xC0\xAF\xED\xA0\x80"));
    EXPECT_EQ(decodeQuotedPrintable("=41=c3=A9=G1="), "A\xC3\xA9=G1=");
    EXPECT_EQ(decodeBase64("QUJD RA=="), "ABCD");
    EXPECT_EQ(decodeBase64("QUI"), "AB");
}

TEST(VCardFormat, FoldsAt75OctetsWithoutSplittingCharacters) {
    const std::string rows[] = {std::string(200, 'a'), "x" + std::string(150, ' '),
                                [] {
                                    std::string s;
                                    for (int i = 0; i < 60; ++i) s += "é";
                                    return s;
                                }(),
                                [] {
                                    std::string s;
                                    for (int i = 0; i < 50; ++i) s += "€";
                                    return s;
                                }(),
                                [] {
                                    std::string s;
                                    for (int i = 0; i < 45; ++i) s += "😀a";
                                    return s;
                                }()};
    for (const std::string& value : rows) {
        VCard card;
        card.properties.push_back({"", "NOTE", {}, value});
        const std::string text = writeVCard(card, VCardVersion::V40);
        for (const std::string& line : physicalLines(text)) {
            EXPECT_LE(line.size(), 75u);
            EXPECT_EQ(lenientUtf8(line), line) << "a line holds whole characters only";
        }
        const std::vector<VCard> back = parseVCards(text);
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].properties.at(0).value, value);
    }
}

// A card that an address book wrote back to us keeps what the book does not
// know when it is written again.
TEST(VCardFormat, VersionsAndBase64) {
    const std::string text =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN:A;B\r\nNOTE;ENCODING=QUOTED-PRINTABLE:1,2=0D=0A3\r\n"
        "PHOTO;ENCODING=BASE64;TYPE=JPEG:QUJD\r\n REVG\r\n\r\nEND:VCARD\r\n";
    const VCard card = parseVCards(text).at(0);
    EXPECT_EQ(card.version, VCardVersion::V21);
    const std::string v3 = writeVCard(card, VCardVersion::V30);
    EXPECT_NE(v3.find("\r\nNOTE:1\\,2\\n3\r\n"), std::string::npos) << v3;
    EXPECT_NE(v3.find("\r\nPHOTO;ENCODING=b;TYPE=JPEG:QUJDREVG\r\n"), std::string::npos) << v3;
    const std::string v4 = writeVCard(card, VCardVersion::V40);
    EXPECT_NE(v4.find("\r\nPHOTO:data:image/jpeg;base64,QUJDREVG\r\n"), std::string::npos) << v4;
    EXPECT_EQ(v4.rfind("BEGIN:VCARD\r\nVERSION:4.0\r\n", 0), 0u);
    // Written once, a card reads back to the same properties.
    for (VCardVersion v : {VCardVersion::V30, VCardVersion::V40}) {
        const VCard again = parseVCards(writeVCard(card, v)).at(0);
        EXPECT_EQ(writeVCard(again, v), writeVCard(card, v));
    }
}

TEST(VCardExport, RoundTripThroughBothVersions) {
    const ContactData rows[] = {
        {.firstNames = "Jos\xE9 Mar\xED"
                       "a",
         .surnames = "N\xFA\xF1"
                     "ez",
         .address = "C/ Real 5, 3\xBA",
         .web = "http://x.es/a,b;c\\d",
         .day = "29",
         .month = "Febrero",
         .notes = "l\xED"
                  "nea uno  l\xED"
                  "nea dos; \\ fin",
         .phones = {"+34 1", "+34 1", "2"},
         .emails = {"a@b.es"}},
        {.firstNames = "\x80\x81\x8D\x9D\xFF", .surnames = "", .day = "1", .month = "Setiembre"},
        {.firstNames = "", .surnames = "Solo,Apellido;x"},
        {},
    };
    for (const ContactData& contact : rows) {
        for (VCardVersion v : {VCardVersion::V30, VCardVersion::V40}) {
            const VCardExport out = exportVCards({contact}, v);
            EXPECT_TRUE(out.warnings.at(0).empty());
            const std::vector<CardImport> back = importVCards(out.text);
            ASSERT_EQ(back.size(), 1u);
            EXPECT_EQ(back[0].contact, contact) << out.text;
        }
    }
}

TEST(VCardExport, BirthdaysAndPlaceholders) {
    const struct {
        const char* day;
        const char* month;
        const char* v4;  // BDAY line, or "" for none
        const char* v3;
        bool warned;
    } rows[] = {
        {"12", "Marzo", "BDAY:--0312", "BDAY:--03-12", false},
        {"1", "Setiembre", "BDAY:--0901", "BDAY:--09-01", false},
        {"D\xED"
         "a",
         "Mes", "", "", false},
        {"n/a", "n/a", "", "", false},
        {"", "", "", "", false},
        {"31", "Febrero", "", "", true},
        {"12", "Mes", "", "", true},
        {"01", "Marzo", "", "", true},
        {"12", "Septiembre", "", "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.day) + " " + row.month);
        const ContactData c{.firstNames = "Ana",
                            .surnames = "n/a",
                            .address = "n/a",
                            .web = " n/a ",
                            .day = row.day,
                            .month = row.month,
                            .notes = "n/a",
                            .phones = {"n/a", ""}};
        for (VCardVersion v : {VCardVersion::V40, VCardVersion::V30}) {
            const VCardExport out = exportVCards({c}, v);
            const std::string expected = v == VCardVersion::V40 ? row.v4 : row.v3;
            EXPECT_EQ(out.text.find("BDAY") != std::string::npos, !expected.empty());
            if (!expected.empty()) {
                EXPECT_NE(out.text.find("\r\n" + expected + "\r\n"), std::string::npos);
            }
            EXPECT_EQ(out.warnings.at(0).size(), row.warned ? 1u : 0u);
            for (const char* absent : {"n/a", "ADR", "URL", "NOTE", "TEL"}) {
                EXPECT_EQ(out.text.find(absent), std::string::npos) << absent;
            }
            EXPECT_NE(out.text.find("\r\nN:;Ana;;;\r\nFN:Ana\r\n"), std::string::npos) << out.text;
        }
    }
}

TEST(VCardExport, UidDependsOnTheKeyAlone) {
    // The published example of a version 5 UUID, and SHA-1 of "abc".
    const Uuid dns = {0x6b, 0xa7, 0xb8, 0x10, 0x9d, 0xad, 0x11, 0xd1,
                      0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8};
    EXPECT_EQ(nameBasedUuid(dns, "python.org"), "886313e1-3b8a-5372-9b90-0c9aee199e5d");
    EXPECT_EQ(sha1("abc")[0], 0xa9);
    EXPECT_EQ(sha1("abc")[19], 0x9d);

    EXPECT_EQ(contactUid("Jos\xE9P\xE9rez", VCardVersion::V40),
              "urn:uuid:da54ca5e-23bd-5520-8fe1-54ab1ba064ca");
    EXPECT_EQ(contactUid("Jos\xE9P\xE9rez", VCardVersion::V30),
              "da54ca5e-23bd-5520-8fe1-54ab1ba064ca");
    const ContactData a{.firstNames = "Jos\xE9", .surnames = "P\xE9rez", .notes = "uno"};
    ContactData b = a;
    b.notes = "otro";
    ContactData split{.firstNames = "Jos\xE9P", .surnames = "\xE9rez"};
    const std::string uid = "UID:urn:uuid:da54ca5e-23bd-5520-8fe1-54ab1ba064ca\r\n";
    for (const ContactData& c : {a, b, split}) {
        EXPECT_NE(exportVCards({c}, VCardVersion::V40).text.find(uid), std::string::npos);
    }
    EXPECT_EQ(exportVCards({a, b}, VCardVersion::V40).text,
              exportVCards({a, b}, VCardVersion::V40).text);
}

TEST(VCardApply, ChangesOnlyWhatDiffers) {
    const std::string text =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc\r\nN:Ruiz;Ana;;Dra.;\r\nFN:Dra. Ana Ruiz\r\n"
        "ORG:Acme\r\nPHOTO;ENCODING=b;TYPE=JPEG:QUJD\r\nitem1.TEL;TYPE=CELL:600\r\n"
        "item1.X-ABLabel:m\xC3\xB3vil\r\nTEL;TYPE=WORK:910\r\nADR:;;Calle 1;Madrid;;;\r\n"
        "ADR;type=WORK:;;Calle 2;Madrid;;;\r\nBDAY:1985-03-12\r\nNOTE:a\r\nX-FOO:bar\r\n"
        "END:VCARD\r\n";
    const VCard card = parseVCards(text).at(0);
    const ContactData read = contactFromCard(card).contact;

    VCard same = card;
    EXPECT_TRUE(applyContact(read, same).empty());
    EXPECT_EQ(writeVCard(same, VCardVersion::V30), writeVCard(card, VCardVersion::V30));

    ContactData changed = read;
    changed.phones = {"911", "600"};  // a new one first, the work one gone
    changed.month = "Abril";
    changed.notes = "b";
    VCard applied = card;
    applyContact(changed, applied);
    EXPECT_EQ(contactFromCard(applied).contact, changed);
    const std::string out = writeVCard(applied, VCardVersion::V30);
    const std::string expected =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:abc\r\nN:Ruiz;Ana;;Dra.;\r\nFN:Dra. Ana Ruiz\r\n"
        "ORG:Acme\r\nPHOTO;ENCODING=b;TYPE=JPEG:QUJD\r\nTEL:911\r\nitem1.TEL;TYPE=CELL:600\r\n"
        "item1.X-ABLabel:m\xC3\xB3vil\r\nADR:;;Calle 1;Madrid;;;\r\n"
        "ADR;type=WORK:;;Calle 2;Madrid;;;\r\nBDAY:1985-04-12\r\nNOTE:b\r\nX-FOO:bar\r\n"
        "END:VCARD\r\n";
    EXPECT_EQ(out, expected);

    ContactData cleared = read;
    cleared.firstNames = "Eva";
    cleared.day =
        "D\xED"
        "a";
    cleared.month = "Mes";
    cleared.web = "http://e.es";
    VCard renamed = card;
    applyContact(cleared, renamed);
    const std::string out2 = writeVCard(renamed, VCardVersion::V40);
    EXPECT_NE(out2.find("\r\nN:Ruiz;Eva;;Dra.;\r\nFN:Eva Ruiz\r\n"), std::string::npos) << out2;
    EXPECT_EQ(out2.find("BDAY"), std::string::npos);
    EXPECT_NE(out2.find("\r\nX-FOO:bar\r\nURL:http://e.es\r\nEND:VCARD"), std::string::npos)
        << out2;
}

// Cards whose names the book holds otherwise than as written: applying
// the book's contact keeps what the card wrote, and a change reads back.
TEST(VCardApply, CardsNamedOtherwiseReadBack) {
    const struct {
        const char* what;
        std::string text;
        void (*change)(ContactData&);
        const char* kept;  // still in the card after the change
    } rows[] = {
        {"transliterated names",
         "BEGIN:VCARD\nN:\xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2;Ivan\nEND:VCARD\n",
         [](ContactData& c) { c.phones = {"1"}; },
         "N:\xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2;Ivan"},
        {"named after its e-mail", "BEGIN:VCARD\nEMAIL:a@b\nEND:VCARD\n",
         [](ContactData& c) { c.emails = {"c@d"}; }, "EMAIL:c@d"},
        {"company", "BEGIN:VCARD\nN:;;;;\nFN:Sol\nORG:Sol;Ventas\nX-ABShowAs:COMPANY\nEND:VCARD\n",
         [](ContactData& c) { c.firstNames = "Luna"; }, "ORG:Luna;Ventas"},
        {"a person named as the card's organisation", "BEGIN:VCARD\nORG:Ruiz\nEND:VCARD\n",
         [](ContactData& c) {
             c.firstNames.clear();
             c.surnames = "Ruiz";
         },
         "KIND:individual"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const VCard card = parseVCards(row.text).at(0);
        ContactData contact = contactFromCard(card).contact;
        VCard same = card;
        applyContact(contact, same);
        EXPECT_EQ(writeVCard(same, VCardVersion::V30), writeVCard(card, VCardVersion::V30));
        row.change(contact);
        VCard changed = card;
        applyContact(contact, changed);
        EXPECT_EQ(contactFromCard(changed).contact, contact);
        EXPECT_NE(writeVCard(changed, VCardVersion::V30).find(row.kept), std::string::npos);
    }
}

TEST(ContactMergeTest, FillsKeepsOrReplaces) {
    const ContactData stored{.firstNames = "Ana",
                             .surnames = "Ruiz",
                             .address = "n/a",
                             .web = "http://a.es",
                             .day =
                                 "D\xED"
                                 "a",
                             .month = "Mes",
                             .notes = "",
                             .phones = {"600 1"},
                             .emails = {"a@a.es"}};
    const struct {
        const char* what;
        ContactData incoming;
        MergeRule rule;
        ContactData expected;
        size_t warnings;
    } rows[] = {
        {"same contact: nothing changes", stored, MergeRule::KeepStored, stored, 0},
        {"empty and placeholder fields are filled, new items added",
         {.address = "Calle 1",
          .day = "3",
          .month = "Mayo",
          .notes = "x",
          .phones = {" 600 1 ", "700", "n/a", ""},
          .emails = {"b@b.es", "a@a.es"}},
         MergeRule::KeepStored,
         {.firstNames = "Ana",
          .surnames = "Ruiz",
          .address = "Calle 1",
          .web = "http://a.es",
          .day = "3",
          .month = "Mayo",
          .notes = "x",
          .phones = {"600 1", "700"},
          .emails = {"a@a.es", "b@b.es"}},
         0},
        {"a differing field keeps the stored value and is reported",
         {.web = "http://b.es", .day = "n/a"},
         MergeRule::KeepStored,
         stored,
         1},
        {"or takes the incoming one",
         {.web = " http://b.es ", .month = "Mes"},
         MergeRule::TakeIncoming,
         [&] {
             ContactData c = stored;
             c.web = "http://b.es";
             return c;
         }(),
         1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const MergeResult r = mergeContact(stored, row.incoming, row.rule);
        EXPECT_EQ(r.contact, row.expected);
        EXPECT_EQ(r.changed, !(row.expected == stored));
        EXPECT_EQ(r.warnings.size(), row.warnings);
        EXPECT_FALSE(mergeContact(r.contact, row.incoming, MergeRule::KeepStored).changed)
            << "merging the same contact twice changes nothing the second time";
    }
}

}  // namespace
}  // namespace contavio
