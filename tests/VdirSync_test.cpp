#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "SyncFolder.h"
#include "exchange/CardContact.h"
#include "exchange/VCard.h"

namespace contavio::synctest {
namespace {

Book baseBook() {
    Book book = twoContacts();
    add(book, contact("Marta", "", {}, {"marta@example.com"}));
    return book;
}

// A card as a server sends it: a name of its own, UTF-8, properties the book
// cannot show.
const std::string kServerCard =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:server-0001\r\nN:Ruiz;Pilar;;;\r\nFN:Pilar Ruiz\r\n"
    "TEL;TYPE=CELL:+34 650 000 001\r\nORG:Acme\r\nBDAY:1980-05-04\r\n"
    "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\nX-CUSTOM:kept\r\nEND:VCARD\r\n";

// Edits a card of the folder as a server would, keeping the file's name.
void editCard(const std::string& folder, const std::string& key,
              const std::function<void(VCard&)>& edit) {
    const std::string file = folder + "/" + fileOf(folder, key);
    std::vector<VCard> cards = parseVCards(readAll(file));
    ASSERT_EQ(cards.size(), 1u) << file;
    edit(cards[0]);
    writeAll(file, writeVCard(cards[0], VCardVersion::V30));
}

void dropProperty(VCard& card, const std::string& name) {
    std::erase_if(card.properties, [&](const VCardProperty& p) { return p.name == name; });
}

const std::string kAna =
    "Ana"
    "Garc\xED"
    "a";
const std::string kLuis =
    "Luis"
    "P\xE9rez";

struct Row {
    const char* what;
    // The changes on either side after a first sync of baseBook().
    std::function<void(Book&, const std::string& folder)> change;
    Counts expected;  // folder added/changed/removed, book added/changed/removed, conflicts
    std::function<void(const Book&, const std::string& folder)> check;
};

const Row kRows[] = {
    {"nothing changed", [](Book&, const std::string&) {}, {0, 0, 0, 0, 0, 0, 0}, nullptr},
    {"contact added in the book",
     [](Book& b, const std::string&) { add(b, contact("Nuevo", "Contacto", {"1"})); },
     {1, 0, 0, 0, 0, 0, 0},
     [](const Book&, const std::string& dir) {
         EXPECT_EQ(fileOf(dir, "NuevoContacto"),
                   contactUid("NuevoContacto", VCardVersion::V30) + ".vcf");
     }},
    {"contact changed in the book",
     [](Book& b, const std::string&) { b[kAna].phones.push_back("699"); },
     {0, 1, 0, 0, 0, 0, 0},
     nullptr},
    {"contact deleted in the book",
     [](Book& b, const std::string&) { b.erase(kLuis); },
     {0, 0, 1, 0, 0, 0, 0},
     nullptr},
    {"contact renamed in the book keeps the old one and its card",
     [](Book& b, const std::string&) {
         ContactData renamed = b[kLuis];
         renamed.firstNames = "Luis Miguel";
         add(b, renamed);
     },
     {1, 0, 0, 0, 0, 0, 0},
     [](const Book& b, const std::string&) { EXPECT_EQ(b.count(kLuis), 1u); }},
    {"card added on the server under a name of its own",
     [](Book&, const std::string& dir) { writeAll(dir + "/server-0001.vcf", kServerCard); },
     {0, 0, 0, 1, 0, 0, 0},
     [](const Book& b, const std::string& dir) {
         ASSERT_EQ(b.count("PilarRuiz"), 1u);
         EXPECT_EQ(fileOf(dir, "PilarRuiz"), "server-0001.vcf");
     }},
    {"card changed on the server: the book takes it, a removed telephone included",
     [](Book&, const std::string& dir) {
         editCard(dir, kAna, [](VCard& c) {
             dropProperty(c, "TEL");
             setValue(c, "NOTE", "desde el servidor");
         });
     },
     {0, 0, 0, 0, 1, 0, 0},
     [](const Book& b, const std::string&) {
         EXPECT_TRUE(b.at(kAna).phones.empty());
         EXPECT_EQ(b.at(kAna).notes, "desde el servidor");
     }},
    {"card deleted on the server",
     [](Book&, const std::string& dir) { fs::remove(dir + "/" + fileOf(dir, kLuis)); },
     {0, 0, 0, 0, 0, 1, 0},
     [](const Book& b, const std::string&) { EXPECT_EQ(b.count(kLuis), 0u); }},
    {"card renamed on the server moves the contact to the new key",
     [](Book&, const std::string& dir) {
         editCard(dir, kLuis, [](VCard& c) {
             setValue(c, "N", "P\xC3\xA9rez;Luisa;;;");
             setValue(c, "FN", "Luisa P\xC3\xA9rez");
         });
     },
     {0, 0, 0, 1, 0, 1, 0},
     [](const Book& b, const std::string&) {
         EXPECT_EQ(b.count(kLuis), 0u);
         EXPECT_EQ(b.at("Luisa"
                        "P\xE9rez")
                       .phones,
                   std::vector<std::string>{"911 000 000"});
     }},
    {"changed on both sides: the book keeps its values and takes the card's telephone",
     [](Book& b, const std::string& dir) {
         b[kAna].address = "Calle Nueva 1";
         editCard(dir, kAna, [](VCard& c) {
             setValue(c, "ADR", ";;Calle Vieja 9;;;;");
             c.properties.push_back({"", "TEL", {}, "+34 600 999 999"});
         });
     },
     {0, 1, 0, 0, 1, 0, 1},
     [](const Book& b, const std::string&) {
         EXPECT_EQ(b.at(kAna).address, "Calle Nueva 1");
         EXPECT_EQ(b.at(kAna).phones, (std::vector<std::string>{"600 111 222", "+34 600 999 999"}));
     }},
    {"card deleted on the server while changed in the book: kept, with a new card",
     [](Book& b, const std::string& dir) {
         b[kLuis].web = "http://luis.example";
         fs::remove(dir + "/" + fileOf(dir, kLuis));
     },
     {1, 0, 0, 0, 0, 0, 1},
     [](const Book& b, const std::string&) { EXPECT_EQ(b.count(kLuis), 1u); }},
    {"contact deleted in the book while its card changed: back in the book",
     [](Book& b, const std::string& dir) {
         b.erase(kLuis);
         editCard(dir, kLuis, [](VCard& c) { setValue(c, "NOTE", "nuevo"); });
     },
     {0, 0, 0, 1, 0, 0, 1},
     [](const Book& b, const std::string&) { EXPECT_EQ(b.at(kLuis).notes, "nuevo"); }},
    {"a new card with the name of a contact that has a card of its own: marked",
     [](Book&, const std::string& dir) {
         writeAll(dir + "/other.vcf",
                  "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:other\r\nN:P\xC3\xA9rez;Luis;;;\r\n"
                  "FN:Luis P\xC3\xA9rez\r\nEMAIL:otro@example.com\r\nEND:VCARD\r\n");
     },
     {0, 0, 0, 1, 0, 0, 1},
     [](const Book& b, const std::string& dir) {
         const std::string marked =
             "Luis"
             "P\xE9rez (conflicto)";
         ASSERT_EQ(b.count(marked), 1u);
         EXPECT_EQ(b.at(marked).emails, std::vector<std::string>{"otro@example.com"});
         EXPECT_EQ(b.at(kLuis).emails, std::vector<std::string>{});
         // The mark is the book's: the card keeps its own name.
         EXPECT_EQ(readAll(dir + "/other.vcf").find("conflicto"), std::string::npos);
     }},
    {"a file without a card is left alone",
     [](Book&, const std::string& dir) { writeAll(dir + "/empty.vcf", "not a card\r\n"); },
     {0, 0, 0, 0, 0, 0, 0},
     [](const Book&, const std::string& dir) { EXPECT_TRUE(fs::exists(dir + "/empty.vcf")); }},
};

TEST_F(VdirSyncTest, EachChangeTravelsAndASecondSyncFindsNothing) {
    for (const Row& row : kRows) {
        for (Cut cut : {Cut::None, Cut::AfterFolder, Cut::AfterBook}) {
            SCOPED_TRACE(std::string(row.what) + ", cut " + std::to_string(int(cut)));
            startOver();
            Book book = baseBook();
            sync(book, dir_);
            ASSERT_TRUE(inStep(book, dir_));
            row.change(book, dir_);

            const SyncReport report = sync(book, dir_, cut);
            if (cut == Cut::None) {
                EXPECT_EQ(counts(report), row.expected);
                if (std::get<6>(row.expected) > 0) {
                    EXPECT_FALSE(report.notes.empty());
                }
            } else {
                // The run after the kill completes the sync; sides that already
                // agree are no conflict.
                EXPECT_LE(sync(book, dir_).conflicts, std::get<6>(row.expected));
            }
            if (row.check) row.check(book, dir_);
            if (std::string(row.what).find("left alone") == std::string::npos &&
                std::string(row.what).find("marked") == std::string::npos) {
                EXPECT_TRUE(inStep(book, dir_));
            }
            EXPECT_EQ(counts(sync(book, dir_)), (Counts{0, 0, 0, 0, 0, 0, 0}))
                << "the sync after is not idle";
        }
    }
}

TEST_F(VdirSyncTest, WhatTheBookCannotShowSurvivesAnEditInTheBook) {
    writeAll(path("server-0001.vcf"), kServerCard);
    Book book;
    sync(book, dir_);
    ASSERT_EQ(book.count("PilarRuiz"), 1u);
    book["PilarRuiz"].phones = {"+34 650 000 002"};
    book["PilarRuiz"].day = "7";
    const SyncReport report = sync(book, dir_);
    EXPECT_EQ(report.folderChanged, 1);

    const std::string text = readAll(path("server-0001.vcf"));
    for (const char* kept : {"UID:server-0001", "ORG:Acme", "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQ",
                             "X-CUSTOM:kept", "BDAY:1980-05-07", "TEL:+34 650 000 002"}) {
        EXPECT_NE(text.find(kept), std::string::npos) << kept << " in\n" << text;
    }
    EXPECT_TRUE(inStep(book, dir_));
}

TEST_F(VdirSyncTest, AFirstSyncPairsByKeyAndMergesWhatDiffers) {
    Book other = baseBook();
    other[kAna].phones = {"611 000 000"};    // differs
    other.erase(kLuis);                      // only in the book
    add(other, contact("Solo", "Carpeta"));  // only in the folder
    sync(other, dir_);
    fs::remove(statePath());

    // Lists are joined without a conflict.
    Book book = baseBook();
    const SyncReport report = sync(book, dir_);
    EXPECT_EQ(counts(report), (Counts{1, 1, 0, 1, 1, 0, 0}));
    EXPECT_EQ(book.at(kAna).phones, (std::vector<std::string>{"600 111 222", "611 000 000"}));
    EXPECT_EQ(book.count("SoloCarpeta"), 1u);
    EXPECT_TRUE(inStep(book, dir_));
}

// A book last synced with another store (another account's address book):
// its pairs say nothing of this one, and a sync would merge two books that
// were never one. Refused, said; forced, paired by key as a first sync.
TEST_F(VdirSyncTest, ABookSyncedWithAnotherPlaceIsNotMergedUnlessForced) {
    Book book = baseBook();
    sync(book, dir_);
    add(book, contact("Solo", "Agenda"));
    const Book before = book;
    for (const bool moved : {false, true}) {
        SCOPED_TRACE(moved ? "the state's place differs" : "the caller knows the former place");
        SyncOptions options;
        if (moved) {
            std::string state = readAll(statePath());
            state.replace(state.find("lugar ") + 6, dir_.size(), "/otra/libreta");
            writeAll(statePath(), state);
        } else {
            fs::rename(statePath(), statePath() + ".aparte");
            options.formerPlace = "/otra/libreta";
        }
        const SyncReport refused = sync(book, dir_, Cut::None, options);
        EXPECT_TRUE(refused.refused);
        EXPECT_EQ(refused.otherPlace, "/otra/libreta");
        EXPECT_EQ(book, before);
        EXPECT_EQ(cardsIn(dir_).size(), 3u);
        if (!moved) fs::rename(statePath() + ".aparte", statePath());
    }
    SyncOptions force;
    force.forceDelete = true;
    EXPECT_EQ(counts(sync(book, dir_, Cut::None, force)), (Counts{1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(counts(sync(book, dir_)), (Counts{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(inStep(book, dir_));
}

// The state an older version kept inside the folder: read once, then gone.
TEST_F(VdirSyncTest, AStateInsideTheFolderIsTakenOver) {
    Book book = baseBook();
    sync(book, dir_);
    std::string legacy = "contavio-sync 1\n";
    for (const auto& [key, c] : book) {
        char line[256];
        const std::string file = fileOf(dir_, key);
        std::snprintf(
            line, sizeof line, "%s %016llx %s %016llx\n", file.c_str(),
            static_cast<unsigned long long>(legacyCardHash(readAll(path(file)))),
            key == kAna    ? "Ana"
                             "Garc%ED"
                             "a"
            : key == kLuis ? "LuisP%E9rez"
                           : key.c_str(),
            static_cast<unsigned long long>(legacyContactHash(normalizedContact(c, nullptr))));
        legacy += line;
    }
    fs::remove(statePath());
    writeAll(path(".contavio-sync"), legacy);
    editCard(dir_, kLuis, [](VCard& c) { setValue(c, "TEL", "911 000 001"); });
    book.erase(kAna);

    EXPECT_EQ(counts(sync(book, dir_)), (Counts{0, 0, 1, 0, 1, 0, 0}));
    EXPECT_EQ(book.at(kLuis).phones, std::vector<std::string>{"911 000 001"});
    EXPECT_FALSE(fs::exists(path(".contavio-sync")));
    EXPECT_TRUE(fs::exists(statePath()));
    EXPECT_TRUE(inStep(book, dir_));
}

std::string valueOf(const std::string& cardText, const std::string& name) {
    for (const VCard& card : parseVCards(cardText)) {
        for (const VCardProperty& p : card.properties) {
            if (p.name == name) return p.value;
        }
    }
    return {};
}

// Ana's contact changed in the book and on her card, then one sync.
struct MergeCase {
    const char* what;
    std::function<void(ContactData&)> inBook;
    std::function<void(VCard&)> onCard;
    int conflicts;
    std::function<void(const ContactData& ana, const std::string& card)> check;
};

const MergeCase kMerges[] = {
    {"the server corrects a telephone while the book changes the note",
     [](ContactData& c) { c.notes = "nota de la agenda"; },
     [](VCard& card) { setValue(card, "TEL", "600 111 333"); }, 0,
     [](const ContactData& ana, const std::string& card) {
         EXPECT_EQ(ana.phones, std::vector<std::string>{"600 111 333"});
         EXPECT_EQ(ana.notes, "nota de la agenda");
         EXPECT_EQ(valueOf(card, "NOTE"), "nota de la agenda");
         EXPECT_EQ(card.find("600 111 222"), std::string::npos);
     }},
    {"the same note changed on both sides keeps both",
     [](ContactData& c) { c.notes = "de la agenda"; },
     [](VCard& card) { setValue(card, "NOTE", "del servidor"); }, 1,
     [](const ContactData& ana, const std::string& card) {
         EXPECT_EQ(ana.notes.rfind("de la agenda [", 0), 0u) << ana.notes;
         EXPECT_NE(ana.notes.find("] en la carpeta, Notas: del servidor"), std::string::npos)
             << ana.notes;
         EXPECT_EQ(contactFromCard(parseVCards(card)[0]).contact.notes, ana.notes);
     }},
    {"each side's list changes are taken",
     [](ContactData& c) { c.emails.push_back("ana@trabajo.example"); },
     [](VCard& card) {
         dropProperty(card, "TEL");
         card.properties.push_back({"", "TEL", {}, "699 000 000"});
     },
     0,
     [](const ContactData& ana, const std::string&) {
         EXPECT_EQ(ana.phones, std::vector<std::string>{"699 000 000"});
         EXPECT_EQ(ana.emails,
                   (std::vector<std::string>{"ana@example.com", "ana@trabajo.example"}));
     }},
    {"the same change on both sides is no conflict",
     [](ContactData& c) { c.address = "Calle Sol 2"; },
     [](VCard& card) { setValue(card, "ADR", ";;Calle Sol 2;;;;"); }, 0,
     [](const ContactData& ana, const std::string&) { EXPECT_EQ(ana.address, "Calle Sol 2"); }},
};

TEST_F(VdirSyncTest, BothSidesChangedMergeFieldByField) {
    for (const MergeCase& row : kMerges) {
        SCOPED_TRACE(row.what);
        startOver();
        Book book = baseBook();
        sync(book, dir_);
        const std::string file = path(fileOf(dir_, kAna));
        row.inBook(book[kAna]);
        editCard(dir_, kAna, row.onCard);
        EXPECT_EQ(sync(book, dir_).conflicts, row.conflicts);
        ASSERT_EQ(book.count(kAna), 1u);
        row.check(book.at(kAna), readAll(file));
        EXPECT_EQ(counts(sync(book, dir_)), (Counts{0, 0, 0, 0, 0, 0, 0}));
    }
}

// Names the book cannot hold as they are keep their text on the cards, also
// when the book changes something else of those contacts.
TEST_F(VdirSyncTest, ACardKeepsTheTextOfWhatTheBookDidNotChange) {
    const std::string ivan =
        "N:\xD0\x9F\xD0\xB5\xD1\x82\xD1\x80\xD0\xBE\xD0\xB2;\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD;;;"
        "\r\n";
    const std::string oleg =
        "N:\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2;\xD0\x9E\xD0\xBB\xD0\xB5\xD0\xB3;;;"
        "\r\n";
    writeAll(path("ivan.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\n" + ivan + "TEL:1\r\nEND:VCARD\r\n");
    writeAll(path("oleg.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\n" + oleg + "TEL:2\r\nEND:VCARD\r\n");
    Book book;
    sync(book, dir_);
    ASSERT_EQ(book.size(), 2u);
    for (auto& [key, c] : book) c.emails = {"nuevo@example.com"};
    EXPECT_EQ(sync(book, dir_).folderChanged, 2);
    EXPECT_NE(readAll(path("ivan.vcf")).find(ivan), std::string::npos) << readAll(path("ivan.vcf"));
    EXPECT_NE(readAll(path("oleg.vcf")).find(oleg), std::string::npos) << readAll(path("oleg.vcf"));
}

TEST_F(VdirSyncTest, FileSystemFailuresAndDamagedStateAreReported) {
    Book book = baseBook();
    SyncReport missing;
    EXPECT_THROW(VdirSync(path("missing"), bookDir_).run(book, missing), std::runtime_error);

    sync(book, dir_);
    writeAll(statePath(), "contavio-sync 2\nlugar x\nonly two\n");
    book[kAna].notes = "cambio";
    const SyncReport report = sync(book, dir_);
    ASSERT_FALSE(report.notes.empty());
    EXPECT_NE(report.notes[0].find("ilegible"), std::string::npos);
    EXPECT_TRUE(inStep(book, dir_));

    if (geteuid() != 0) {
        book[kAna].notes = "otro cambio";
        chmod(dir_.c_str(), 0500);
        SyncReport failed;
        try {
            VdirSync(dir_, bookDir_).run(book, failed);
            ADD_FAILURE() << "writing into a read-only folder did not fail";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(dir_), std::string::npos) << e.what();
        }
        chmod(dir_.c_str(), 0700);
    }
}

}  // namespace
}  // namespace contavio::synctest
