#include "SyncFolder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "exchange/CardContact.h"

namespace contavio::synctest {

ContactData contact(std::string first, std::string last, std::vector<std::string> phones,
                    std::vector<std::string> emails, std::string address) {
    ContactData c;
    c.firstNames = std::move(first);
    c.surnames = std::move(last);
    c.phones = std::move(phones);
    c.emails = std::move(emails);
    c.address = std::move(address);
    return c;
}

Book twoContacts() {
    Book book;
    add(book, contact("Ana",
                      "Garc\xED"
                      "a",
                      {"600 111 222"}, {"ana@example.com"}, "Calle Mayor 5"));
    add(book, contact("Luis", "P\xE9rez", {"911 000 000"}));
    return book;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

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

namespace {

void store(Book& book, const BookChanges& changes) {
    for (const std::string& key : changes.remove) book.erase(key);
    for (const ContactData& c : changes.put) book[contactKeyOf(c)] = c;
}

}  // namespace

SyncReport syncOnce(Book& book, const std::string& folder, const std::string& bookDir, Cut cut,
                    const SyncOptions& options) {
    VdirSync vdir(folder, bookDir, options);
    SyncReport report;
    const BookChanges changes = vdir.run(book, report);
    if (cut == Cut::AfterFolder) return report;
    store(book, changes);
    if (cut == Cut::AfterBook) return report;
    vdir.commit();
    return report;
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

Counts counts(const SyncReport& r) {
    return {r.folderAdded, r.folderChanged, r.folderRemoved, r.bookAdded,
            r.bookChanged, r.bookRemoved,   r.conflicts};
}

void VdirSyncTest::SetUp() {
    for (std::string* dir : {&dir_, &bookDir_}) {
        std::string tmpl = ::testing::TempDir() + "VdirSync-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << std::strerror(errno);
        *dir = tmpl;
    }
}

void VdirSyncTest::TearDown() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::remove_all(bookDir_, ec);
}

void VdirSyncTest::startOver() {
    for (const std::string& d : {dir_, bookDir_}) {
        fs::remove_all(d);
        fs::create_directory(d);
    }
}

}  // namespace contavio::synctest
