#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "SyncFolder.h"
#include "exchange/CardContact.h"
#include "exchange/KeptCopies.h"
#include "exchange/VCard.h"

namespace contavio::synctest {
namespace {

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

Book baseBook() { return twoContacts(); }

// Contacts as the window stores them: "n/a" for an empty name, blanks kept.
TEST_F(VdirSyncTest, ASecondSyncWithNothingChangedWritesNothing) {
    Book book = baseBook();
    add(book, contact("n/a", "Ruiz", {"1"}));
    add(book, contact(" Ana ", "Sol", {"2"}));
    add(book, contact("Eva", "n/a", {}, {"eva@example.com"}));
    sync(book, dir_);
    const Book before = book;
    const Snapshot files = snapshot({dir_, bookDir_});
    const SyncReport report = sync(book, dir_);
    EXPECT_EQ(counts(report), (Counts{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(book, before);
    EXPECT_EQ(snapshot({dir_, bookDir_}), files);
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
         writeAll(dir + "/.contavio-tmp-123456", "left by a killed run");
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
        const Snapshot files = snapshot({dir_, bookDir_});
        SyncOptions options;
        options.forceDelete = row.force;
        options.dryRun = row.dryRun;
        const SyncReport report = sync(book, dir_, Cut::None, options);
        EXPECT_EQ(report.refused, row.refused);
        if (row.refused || row.dryRun) {
            EXPECT_EQ(book, before);
            EXPECT_EQ(snapshot({dir_, bookDir_}), files) << "a file was written";
        }
        row.check(book, dir_, report);
        if (!row.refused && !row.dryRun) {
            EXPECT_EQ(counts(sync(book, dir_)), (Counts{0, 0, 0, 0, 0, 0, 0}));
        }
    }
}

// A server's card name may be no file name (an encoded slash or NUL in its
// href, a long one): each is kept apart from the others, inside the copies.
TEST_F(VdirSyncTest, KeptCardsWhoseNamesAreNoFileNames) {
    const std::string names[] = {"a/b.vcf",
                                 "a%2Fb.vcf",
                                 "../../fuera.vcf",
                                 "..",
                                 "a/b.vcf/",
                                 std::string("x\0y.vcf", 7),
                                 std::string(300, 'u') + ".vcf"};
    KeptCopies copies(bookDir_ + "/kept", std::time(nullptr));
    for (const std::string& name : names) copies.keepCard(name, "BEGIN:VCARD " + name);
    copies.flush();
    std::set<std::string> held;
    for (const auto& e : fs::recursive_directory_iterator(bookDir_)) {
        if (!e.is_regular_file() || e.path().string().find("/tarjetas/") == std::string::npos)
            continue;
        EXPECT_EQ(e.path().parent_path().filename(), "tarjetas") << e.path();
        held.insert(readAll(e.path()));
    }
    EXPECT_EQ(held.size(), std::size(names));
    for (const std::string& name : names) EXPECT_TRUE(held.count("BEGIN:VCARD " + name)) << name;
}

}  // namespace
}  // namespace contavio::synctest
