#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "BookFile.h"
#include "SyncFolder.h"
#include "exchange/CardContact.h"
#include "exchange/VCard.h"

namespace contavio::synctest {
namespace {

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
    BookMap book;
    add(book, contact("Ana", "Sol", {"1", "2", "3"}, {"ana@example.com"}));
    add(book, contact("n/a", "Ruiz"));
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

// Every card of the folder, by name, byte for byte.
std::map<std::string, std::string> cardBytes(const std::string& folder) {
    std::map<std::string, std::string> cards;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".vcf")
            cards[entry.path().filename().string()] = readAll(entry.path().string());
    }
    return cards;
}

// A sync with conflicts on both sides, killed anywhere and run again, ends
// exactly as the same sync run once: the same book, the same cards, each
// conflict noted once.
TEST_F(VdirSyncTest, KilledAndRunAgainEndsAsARunThatWasNotKilled) {
    const std::string scene = path("scene"), saved = path("saved");
    const std::string bookPath = scene + "/data.vlt", folder = scene + "/vdir";
    fs::create_directories(folder);
    BookMap book;
    for (int i = 0; i < 200; ++i) add(book, generated(i));
    saveBookFile(bookPath, book);
    ASSERT_TRUE(runKiller(bookPath, folder, std::nullopt));

    // Both sides change the same contacts: notes, addresses, telephones.
    book = loadBookFile(bookPath);
    for (int i = 0; i < 40; ++i) {
        const std::string key = contactKeyOf(generated(i));
        const std::string file = folder + "/" + contactUid(key, VCardVersion::V30) + ".vcf";
        std::vector<VCard> cards = parseVCards(readAll(file));
        ASSERT_EQ(cards.size(), 1u) << file;
        for (VCardProperty& p : cards[0].properties) {
            if (p.name == "NOTE")
                p.value +=
                    " desde el tel\xC3\xA9"
                    "fono";
            if (p.name == "ADR" && i % 2 == 0)
                p.value = ";;Otra calle " + std::to_string(i) + ";;;;";
        }
        cards[0].properties.push_back({"", "TEL", {}, "+34 600 " + std::to_string(i)});
        writeAll(file, writeVCard(cards[0], VCardVersion::V30));
        book[key].notes += " desde la agenda";
        if (i % 2 == 0) book[key].address = "Calle de la agenda " + std::to_string(i);
        book[key].phones.push_back("+34 700 " + std::to_string(i));
    }
    saveBookFile(bookPath, book);
    // The book, the folder and the state beside the book, as they are now.
    fs::copy(scene, saved, fs::copy_options::recursive);
    const auto restore = [&] {
        fs::remove_all(scene);
        fs::copy(saved, scene, fs::copy_options::recursive);
    };

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(runKiller(bookPath, folder, std::nullopt));
    const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    const BookMap once = loadBookFile(bookPath);
    const auto onceCards = cardBytes(folder);
    for (int i = 0; i < 40; ++i) {
        const std::string& notes = once.at(contactKeyOf(generated(i))).notes;
        ASSERT_EQ(notes.find("Notas:"), notes.rfind("Notas:")) << notes;
        ASSERT_NE(notes.find("Notas: desde el tel\xE9"
                             "fono"),
                  std::string::npos)
            << notes;
    }

    std::mt19937 rng(std::random_device{}());
    int killed = 0;
    for (int round = 0; round < 14; ++round) {
        restore();
        if (round < 2) {
            // Cut where a kill does most harm: every card written, the book
            // not saved (and, the second time, saved but the state not).
            BookMap cut = loadBookFile(bookPath);
            syncOnce(cut, folder, scene, round == 0 ? Cut::AfterFolder : Cut::AfterBook);
            if (round == 1) saveBookFile(bookPath, cut);
        } else {
            const auto delay = std::chrono::microseconds(
                std::uniform_int_distribution<int64_t>(0, whole.count())(rng));
            killed += !runKiller(bookPath, folder, delay);
        }
        ASSERT_TRUE(runKiller(bookPath, folder, std::nullopt));
        EXPECT_EQ(loadBookFile(bookPath), once) << "round " << round;
        EXPECT_EQ(cardBytes(folder), onceCards) << "round " << round;
    }
    std::printf("[ VdirSync ] %d of 12 runs killed before their end\n", killed);
}

}  // namespace
}  // namespace contavio::synctest
