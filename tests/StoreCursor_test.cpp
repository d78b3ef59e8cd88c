// The sync engine over a store that lists changes since a cursor and reads
// in batches (as a CardDAV server does): only cards whose version moved are
// read, the cursor travels through the state, and a card changed on the
// store between its reading and its write is read again and merged.
#include <gtest/gtest.h>

#include <functional>

#include "SyncFolder.h"
#include "exchange/CardContact.h"
#include "exchange/SyncEngine.h"

namespace contavio::synctest {
namespace {

std::string card(const std::string& first, const std::string& last, const std::string& extra) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + first + " " + last + "\r\nN:" + last + ";" +
           first + ";;;\r\n" + extra + "END:VCARD\r\n";
}

class MemoryStore : public CardStore {
  public:
    std::map<std::string, std::string> cards;
    std::vector<std::vector<std::string>> reads;  // each readMany's names
    std::string resumedFrom, nextCursor = "t1";
    // Before a write that names a version: may change the store under it.
    std::function<void(const std::string&)> beforeWrite;
    int writes = 0;

    static std::string versionOf(const std::string& bytes) {
        return std::to_string(std::hash<std::string>{}(bytes));
    }
    void resume(const std::string& cursor, const std::map<std::string, std::string>&) override {
        resumedFrom = cursor;
    }
    std::string cursor() const override { return nextCursor; }
    StoreListing list() override {
        StoreListing listing;
        for (const auto& [name, bytes] : cards) listing.items[name] = versionOf(bytes);
        return listing;
    }
    std::string read(const std::string& name) override { return cards.at(name); }
    std::map<std::string, std::string> readMany(const std::vector<std::string>& names) override {
        reads.push_back(names);
        return CardStore::readMany(names);
    }
    std::string write(const std::string& name, std::string_view bytes,
                      const std::optional<std::string>& ifVersion) override {
        ++writes;
        if (ifVersion && beforeWrite) beforeWrite(name);
        const auto it = cards.find(name);
        if (ifVersion ? it == cards.end() || versionOf(it->second) != *ifVersion
                      : it != cards.end())
            throw StoreChanged(name);
        cards[name] = std::string(bytes);
        return versionOf(cards[name]);
    }
    void remove(const std::string& name, const std::string&) override { cards.erase(name); }
    void flush() override {}
    const char* sideName() const override { return "en el servidor"; }
};

class StoreCursorTest : public VdirSyncTest {
  protected:
    SyncReport run(Book& book) {
        SyncOptions options;
        options.statePath = path("state");
        options.keptRoot = path("kept");
        options.place = "memoria";
        SyncEngine engine(store_, options);
        SyncReport report;
        const BookChanges changes = engine.run(book, report);
        for (const std::string& key : changes.remove) book.erase(key);
        for (const ContactData& c : changes.put) add(book, c);
        engine.commit();
        return report;
    }
    MemoryStore store_;
};

TEST_F(StoreCursorTest, OnlyCardsWhoseVersionMovedAreReadAndTheCursorTravelsInTheState) {
    store_.cards = {{"a.vcf", card("Ana", "Uno", "TEL:1\r\n")},
                    {"b.vcf", card("Bea", "Dos", "TEL:2\r\n")},
                    {"c.vcf", card("Carla", "Tres", "TEL:3\r\n")}};
    Book book;
    run(book);
    EXPECT_EQ(book.size(), 3u);
    ASSERT_EQ(store_.reads.size(), 1u) << "one batch for the first sync";
    EXPECT_EQ(store_.reads[0].size(), 3u);

    store_.cards["b.vcf"] = card("Bea", "Dos", "TEL:22\r\n");
    store_.nextCursor = "t2";
    run(book);
    EXPECT_EQ(store_.resumedFrom, "t1");
    EXPECT_EQ(store_.reads.back(), std::vector<std::string>{"b.vcf"});
    EXPECT_EQ(book.at(contactKeyOf(contact("Bea", "Dos"))).phones, std::vector<std::string>{"22"});

    store_.reads.clear();
    run(book);
    EXPECT_EQ(store_.resumedFrom, "t2") << "a cursor that moved alone is kept";
    EXPECT_TRUE(store_.reads.empty() || store_.reads.back().empty());
}

TEST_F(StoreCursorTest, ACardChangedBetweenReadingAndWritingIsReadAgainAndMerged) {
    store_.cards = {{"a.vcf", card("Ana", "Uno", "TEL:1\r\n")}};
    Book book;
    run(book);
    const std::string key = contactKeyOf(contact("Ana", "Uno"));
    book[key].phones = {"1", "9"};
    store_.beforeWrite = [this](const std::string& name) {
        store_.beforeWrite = nullptr;  // once: another device wrote meanwhile
        store_.cards[name] = card("Ana", "Uno", "TEL:1\r\nEMAIL:ana@example.org\r\n");
    };
    run(book);
    EXPECT_EQ(store_.writes, 2);
    EXPECT_NE(store_.cards["a.vcf"].find("ana@example.org"), std::string::npos);
    EXPECT_NE(store_.cards["a.vcf"].find("TEL:9"), std::string::npos);
    EXPECT_EQ(book[key].emails, std::vector<std::string>{"ana@example.org"});
}

TEST_F(StoreCursorTest, AStoreThatAlwaysChangesUnderTheSyncStopsIt) {
    store_.cards = {{"a.vcf", card("Ana", "Uno", "TEL:1\r\n")}};
    Book book;
    run(book);
    book[contactKeyOf(contact("Ana", "Uno"))].phones = {"7"};
    int n = 0;
    store_.beforeWrite = [&](const std::string& name) {
        store_.cards[name] = card("Ana", "Uno", "TEL:1\r\nNOTE:" + std::to_string(++n) + "\r\n");
    };
    EXPECT_THROW(run(book), StoreChanged);
    EXPECT_EQ(store_.writes, kStoreChangedRetries);
}

}  // namespace
}  // namespace contavio::synctest
