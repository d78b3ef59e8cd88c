#include "persistence/VdirSync.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "BookFile.h"
#include "persistence/CardContact.h"
#include "persistence/VCard.h"

namespace contavio {
namespace {

namespace fs = std::filesystem;
using Book = std::map<std::string, ContactData>;

ContactData contact(std::string first, std::string last, std::vector<std::string> phones = {},
                    std::vector<std::string> emails = {}, std::string address = {}) {
    ContactData c;
    c.firstNames = std::move(first);
    c.surnames = std::move(last);
    c.phones = std::move(phones);
    c.emails = std::move(emails);
    c.address = std::move(address);
    return c;
}

void add(Book& book, const ContactData& c) { book[contactKeyOf(c)] = c; }

Book baseBook() {
    Book book;
    add(book, contact("Ana",
                      "Garc\xED"
                      "a",
                      {"600 111 222"}, {"ana@example.com"}, "Calle Mayor 5"));
    add(book, contact("Luis", "P\xE9rez", {"911 000 000"}));
    add(book, contact("Marta", "", {}, {"marta@example.com"}));
    return book;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The cards of a vdir, by file name, as contacts.
std::map<std::string, ContactData> cardsIn(const std::string& folder) {
    std::map<std::string, ContactData> cards;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' || entry.path().extension() != ".vcf") continue;
        auto imported = importVCards(readAll(entry.path().string()));
        EXPECT_EQ(imported.size(), 1u) << name;
        if (!imported.empty()) cards[name] = imported.front().contact;
    }
    return cards;
}

std::string fileOf(const std::string& folder, const std::string& key) {
    for (const auto& [name, c] : cardsIn(folder)) {
        if (contactKeyOf(c) == key) return name;
    }
    return {};
}

// Every contact has exactly one card that reads back as it, and the reverse.
::testing::AssertionResult inStep(const Book& book, const std::string& folder) {
    Book fromCards;
    for (const auto& [name, c] : cardsIn(folder)) {
        if (!fromCards.emplace(contactKeyOf(c), c).second) {
            return ::testing::AssertionFailure() << "two cards for " << contactKeyOf(c);
        }
    }
    Book normal;
    for (const auto& [key, c] : book) normal[key] = normalizedContact(c, nullptr);
    if (normal != fromCards) {
        std::ostringstream out;
        out << "book " << book.size() << " contacts, folder " << fromCards.size() << " cards:";
        for (const auto& [key, c] : normal) {
            if (!fromCards.count(key) || fromCards.at(key) != c) out << " book:" << key;
        }
        for (const auto& [key, c] : fromCards) {
            if (!normal.count(key) || normal.at(key) != c) out << " folder:" << key;
        }
        return ::testing::AssertionFailure() << out.str();
    }
    return ::testing::AssertionSuccess();
}

void store(Book& book, const BookChanges& changes) {
    for (const std::string& key : changes.remove) book.erase(key);
    for (const ContactData& c : changes.put) book[contactKeyOf(c)] = c;
}

// Where a sync is cut short, as a kill would: after the folder's side, or
// after the book was saved as well; the next sync then runs whole.
enum class Cut { None, AfterFolder, AfterBook };

// The folder of the book's file, where the state and the kept copies go.
std::string gBookDir;

SyncReport sync(Book& book, const std::string& folder, Cut cut = Cut::None,
                SyncOptions options = {}) {
    VdirSync vdir(folder, gBookDir, options);
    SyncReport report;
    const BookChanges changes = vdir.run(book, report);
    if (cut == Cut::AfterFolder) return report;
    store(book, changes);
    if (cut == Cut::AfterBook) return report;
    vdir.commit();
    return report;
}

using Counts = std::tuple<int, int, int, int, int, int, int>;
Counts counts(const SyncReport& r) {
    return {r.folderAdded, r.folderChanged, r.folderRemoved, r.bookAdded,
            r.bookChanged, r.bookRemoved,   r.conflicts};
}

class VdirSyncTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "VdirSync-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << std::strerror(errno);
        dir_ = tmpl;
        tmpl = ::testing::TempDir() + "VdirSyncBook-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << std::strerror(errno);
        gBookDir = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        fs::remove_all(gBookDir, ec);
    }
    // Both sides and the state as a first sync finds them.
    void startOver() {
        for (const std::string& d : {dir_, gBookDir}) {
            fs::remove_all(d);
            fs::create_directory(d);
        }
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string statePath() const { return syncPlaces(gBookDir, dir_).state; }
    std::string dir_;
};

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

void setValue(VCard& card, const std::string& name, const std::string& value) {
    for (VCardProperty& p : card.properties) {
        if (p.name == name) {
            p.value = value;
            return;
        }
    }
    card.properties.push_back({"", name, {}, value});
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

// Every regular file under the folders: bytes, modification time, inode.
using Snapshot = std::map<std::string, std::tuple<std::string, int64_t, ino_t>>;
Snapshot snapshot(const std::vector<std::string>& folders) {
    Snapshot files;
    for (const std::string& folder : folders) {
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            struct stat st {};
            if (lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            files[entry.path()] = {readAll(entry.path()),
                                   st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                                   st.st_ino};
        }
    }
    return files;
}

// Contacts as the window stores them: "n/a" for an empty name, blanks kept.
TEST_F(VdirSyncTest, ASecondSyncWithNothingChangedWritesNothing) {
    Book book = baseBook();
    add(book, contact("n/a", "Ruiz", {"1"}));
    add(book, contact(" Ana ", "Sol", {"2"}));
    add(book, contact("Eva", "n/a", {}, {"eva@example.com"}));
    sync(book, dir_);
    const Book before = book;
    const Snapshot files = snapshot({dir_, gBookDir});
    const SyncReport report = sync(book, dir_);
    EXPECT_EQ(counts(report), (Counts{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(book, before);
    EXPECT_EQ(snapshot({dir_, gBookDir}), files);
    EXPECT_EQ(report.keptIn, "");
}

ContactData numbered(int i) {
    return contact("Persona" + std::to_string(i), "Apellido", {std::to_string(600000 + i)});
}

std::string cardText(const ContactData& c) { return exportVCards({c}, VCardVersion::V30).text; }

size_t cardCount(const std::string& path) { return parseVCards(readAll(path)).size(); }

void removeCards(const std::string& dir, size_t count) {
    std::vector<fs::path> cards;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().extension() == ".vcf") cards.push_back(e.path());
    }
    std::sort(cards.begin(), cards.end());
    for (size_t i = 0; i < count && i < cards.size(); ++i) fs::remove(cards[i]);
}

struct Accident {
    const char* what;
    std::function<void(Book&, const std::string& dir)> cause;
    bool force, dryRun, refused;
    std::function<void(const Book&, const std::string& dir, const SyncReport&)> check;
};

const Accident kAccidents[] = {
    {"an emptied folder", [](Book&, const std::string& dir) { removeCards(dir, 10); }, false, false,
     true, [](const Book& b, const std::string&, const SyncReport&) { EXPECT_EQ(b.size(), 10u); }},
    {"an emptied book", [](Book& b, const std::string&) { b.clear(); }, false, false, true,
     [](const Book&, const std::string& dir, const SyncReport&) {
         EXPECT_EQ(cardsIn(dir).size(), 10u);
     }},
    {"another account's cards",
     [](Book&, const std::string& dir) {
         removeCards(dir, 10);
         for (int i = 20; i < 30; ++i)
             writeAll(dir + "/o" + std::to_string(i) + ".vcf", cardText(numbered(i)));
     },
     false, false, true,
     [](const Book& b, const std::string&, const SyncReport&) { EXPECT_EQ(b.size(), 10u); }},
    {"most cards deleted, with force: the contacts are kept aside",
     [](Book&, const std::string& dir) { removeCards(dir, 7); }, true, false, false,
     [](const Book& b, const std::string&, const SyncReport& r) {
         EXPECT_EQ(b.size(), 3u);
         ASSERT_NE(r.keptIn, "");
         EXPECT_EQ(cardCount(r.keptIn + "/agenda.vcf"), 7u);
     }},
    {"a few cards deleted go without asking, kept aside",
     [](Book&, const std::string& dir) { removeCards(dir, 2); }, false, false, false,
     [](const Book& b, const std::string&, const SyncReport& r) {
         EXPECT_EQ(b.size(), 8u);
         EXPECT_EQ(cardCount(r.keptIn + "/agenda.vcf"), 2u);
     }},
    {"contacts deleted in the book: their cards kept aside",
     [](Book& b, const std::string&) {
         b.erase(contactKeyOf(numbered(0)));
         b.erase(contactKeyOf(numbered(1)));
     },
     false, false, false,
     [](const Book&, const std::string& dir, const SyncReport& r) {
         EXPECT_EQ(cardsIn(dir).size(), 8u);
         EXPECT_EQ(std::distance(fs::directory_iterator(r.keptIn + "/tarjetas"), {}), 2);
     }},
    {"a dry run changes nothing",
     [](Book& b, const std::string& dir) {
         removeCards(dir, 3);
         add(b, contact("Nueva", "Persona"));
     },
     true, true, false,
     [](const Book& b, const std::string&, const SyncReport& r) {
         EXPECT_EQ(b.size(), 11u);
         EXPECT_EQ(r.actions.size(), 4u);
         EXPECT_EQ(r.bookRemoved, 3);
     }},
    {"a FIFO named x.vcf",
     [](Book&, const std::string& dir) { mkfifo((dir + "/x.vcf").c_str(), 0600); }, false, false,
     false,
     [](const Book& b, const std::string&, const SyncReport& r) {
         EXPECT_EQ(b.size(), 10u);
         ASSERT_FALSE(r.notes.empty());
         EXPECT_EQ(r.notes[0].rfind("x.vcf: ", 0), 0u);
     }},
    {"a folder named y.vcf",
     [](Book&, const std::string& dir) { fs::create_directory(dir + "/y.vcf"); }, false, false,
     false,
     [](const Book& b, const std::string&, const SyncReport& r) {
         EXPECT_EQ(b.size(), 10u);
         ASSERT_FALSE(r.notes.empty());
         EXPECT_EQ(r.notes[0].rfind("y.vcf: ", 0), 0u);
     }},
    {"a file of three cards: each comes in, one file each, the original kept",
     [](Book&, const std::string& dir) {
         writeAll(dir + "/multi.vcf",
                  cardText(numbered(40)) + cardText(numbered(41)) + cardText(numbered(42)));
     },
     false, false, false,
     [](const Book& b, const std::string& dir, const SyncReport& r) {
         EXPECT_EQ(b.size(), 13u);
         EXPECT_FALSE(fs::exists(dir + "/multi.vcf"));
         EXPECT_EQ(cardsIn(dir).size(), 13u);
         EXPECT_EQ(cardCount(r.keptIn + "/tarjetas/multi.vcf"), 3u);
     }},
};

TEST_F(VdirSyncTest, FolderAccidentsLoseNothing) {
    for (const Accident& row : kAccidents) {
        SCOPED_TRACE(row.what);
        startOver();
        Book book;
        for (int i = 0; i < 10; ++i) add(book, numbered(i));
        sync(book, dir_);
        row.cause(book, dir_);
        const Book before = book;
        const Snapshot files = snapshot({dir_, gBookDir});
        SyncOptions options;
        options.forceDelete = row.force;
        options.dryRun = row.dryRun;
        const SyncReport report = sync(book, dir_, Cut::None, options);
        EXPECT_EQ(report.refused, row.refused);
        if (row.refused || row.dryRun) {
            EXPECT_EQ(book, before);
            EXPECT_EQ(snapshot({dir_, gBookDir}), files) << "a file was written";
        }
        row.check(book, dir_, report);
        if (!row.refused && !row.dryRun) {
            EXPECT_EQ(counts(sync(book, dir_)), (Counts{0, 0, 0, 0, 0, 0, 0}));
        }
    }
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
    EXPECT_THROW(VdirSync(path("missing"), gBookDir).run(book, missing), std::runtime_error);

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
            VdirSync(dir_, gBookDir).run(book, failed);
            ADD_FAILURE() << "writing into a read-only folder did not fail";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(dir_), std::string::npos) << e.what();
        }
        chmod(dir_.c_str(), 0700);
    }
}

// Every card of a first sync is synced to disk on its own, which bounds the
// size of a book that keeps this test to a few seconds.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKillContacts = 500;
#else
constexpr int kKillContacts = 1000;
#endif
constexpr int kKills = 30;

std::string token(int n) { return "tok-" + std::to_string(n); }

ContactData generated(int i) {
    ContactData c = contact("Nombre" + std::to_string(i), "Apellido" + std::to_string(i),
                            {"+34 91 555 " + std::to_string(1000 + i)},
                            {"n" + std::to_string(i) + "@example.com"},
                            "Calle " + std::to_string(i) + ", Madrid");
    c.notes = "Contacto n\xFAmero " + std::to_string(i);
    return c;
}

// Runs the sync in a process of its own; kills it after `delay` unless it
// ended before. True when it ran to its end.
bool runKiller(const std::string& book, const std::string& folder,
               std::optional<std::chrono::microseconds> delay) {
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        execl(CONTAVIO_SYNC_KILLER, CONTAVIO_SYNC_KILLER, book.c_str(), folder.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    if (delay) {
        const auto deadline = std::chrono::steady_clock::now() + *delay;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    } else {
        waitpid(child, &status, 0);
    }
    if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the sync failed";
        return true;
    }
    return false;
}

TEST_F(VdirSyncTest, TheBookFileComesBackAsSaved) {
    BookMap book = baseBook();
    book[kAna].phones = {"1", "2", "3"};
    saveBookFile(path("data.vlt"), book);
    EXPECT_EQ(loadBookFile(path("data.vlt")), book);
}

// The sync is killed at random moments, while the book and the folder keep
// changing between runs; a last run must leave them in step with nothing lost.
TEST_F(VdirSyncTest, KilledAnywhereTheNextSyncCompletesAndLosesNothing) {
    const std::string bookPath = path("data.vlt");
    const std::string folder = path("vdir");
    fs::create_directory(folder);
    const unsigned seed = std::random_device{}();
    RecordProperty("seed", std::to_string(seed));
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);

    // The book, and a folder whose cards share some keys with it.
    BookMap book;
    for (int i = 0; i < kKillContacts; ++i) add(book, generated(i));
    saveBookFile(bookPath, book);
    int next = kKillContacts;  // contacts and tokens are numbered from here on
    std::set<std::string> tokens, gone, born;
    for (int j = 0; j < kKillContacts / 10; ++j) {
        ContactData c = j % 2 == 0 ? generated(j) : generated(next++);
        c.emails.push_back(token(next++) + "@example.com");
        tokens.insert(c.emails.back());
        born.insert(contactKeyOf(c));
        writeAll(folder + "/server-" + std::to_string(j) + ".vcf",
                 exportVCards({c}, VCardVersion::V40).text);
    }

    // One round of changes on both sides, on contacts no round touched.
    int untouched = kKillContacts / 10;
    auto changeBothSides = [&] {
        BookMap b = loadBookFile(bookPath);
        for (int n = 0; n < 3; ++n) {
            const std::string key = contactKeyOf(generated(untouched++));  // edited in the book
            if (!b.count(key)) continue;
            b[key].phones.push_back(token(next++));
            tokens.insert(b[key].phones.back());
        }
        for (int n = 0; n < 3; ++n) {  // edited in the folder
            const std::string key = contactKeyOf(generated(untouched++));
            const std::string file = folder + "/" + contactUid(key, VCardVersion::V30) + ".vcf";
            if (!fs::exists(file)) continue;
            std::vector<VCard> cards = parseVCards(readAll(file));
            cards[0].properties.push_back({"", "TEL", {}, token(next++)});
            tokens.insert(cards[0].properties.back().value);
            writeAll(file, writeVCard(cards[0], VCardVersion::V30));
        }
        const std::string inBook = contactKeyOf(generated(untouched++));
        const std::string inFolder = contactKeyOf(generated(untouched++));
        const std::string cardGone =
            folder + "/" + contactUid(inFolder, VCardVersion::V30) + ".vcf";
        if (b.erase(inBook)) gone.insert(inBook);
        if (fs::remove(cardGone)) gone.insert(inFolder);
        ContactData fresh = generated(next++);
        born.insert(contactKeyOf(fresh));
        add(b, fresh);
        saveBookFile(bookPath, b);
    };

    // Kills land anywhere in a run as long as the last one that ran to its end.
    using Clock = std::chrono::steady_clock;
    auto lastRun = std::chrono::microseconds(100000);
    int completed = 0, killed = 0;
    for (int round = 0; killed < kKills; ++round) {
        // Deletions only once a whole sync has paired both sides.
        if (completed > 0) changeBothSides();
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<int64_t>(0, lastRun.count() * 5 / 4)(rng));
        const auto start = Clock::now();
        if (runKiller(bookPath, folder, delay)) {
            ++completed;
            lastRun = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        } else {
            ++killed;
        }
        if (completed == 0 && killed % 10 == 9) {
            ASSERT_TRUE(runKiller(bookPath, folder, std::nullopt));
            ++completed;
        }
    }
    ASSERT_TRUE(runKiller(bookPath, folder, std::nullopt));
    std::printf("[ VdirSync ] %d kills and %d syncs that ran to their end (seed %u)\n", killed,
                completed, seed);

    book = loadBookFile(bookPath);
    EXPECT_TRUE(inStep(book, folder));
    std::set<std::string> items;
    for (const auto& [key, c] : book) {
        items.insert(c.phones.begin(), c.phones.end());
        items.insert(c.emails.begin(), c.emails.end());
    }
    for (const std::string& t : tokens) EXPECT_TRUE(items.count(t)) << t << " was lost";
    for (const std::string& key : gone) EXPECT_FALSE(book.count(key)) << key << " came back";
    for (const std::string& key : born) EXPECT_TRUE(book.count(key)) << key << " was lost";
    int leftovers = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        leftovers += entry.path().filename().string().rfind(".contavio-tmp-", 0) == 0;
    }
    EXPECT_EQ(leftovers, 0);
}

}  // namespace
}  // namespace contavio
