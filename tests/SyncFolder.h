// What the sync's tests share: a book as a map, the cards of a folder, a
// sync run as the command-line program runs it, and a fixture with a folder
// and a book folder of their own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "exchange/VCard.h"
#include "exchange/VdirSync.h"

namespace contavio::synctest {

namespace fs = std::filesystem;
using Book = std::map<std::string, ContactData>;

ContactData contact(std::string first, std::string last, std::vector<std::string> phones = {},
                    std::vector<std::string> emails = {}, std::string address = {});
inline void add(Book& book, const ContactData& c) { book[contactKeyOf(c)] = c; }

// Ana García and Luis Pérez, as most sync tests start.
Book twoContacts();

std::string readAll(const std::string& path);
void writeAll(const std::string& path, const std::string& text);

// The cards of a vdir, by file name, as contacts.
std::map<std::string, ContactData> cardsIn(const std::string& folder);
// The file of the card whose contact has the key, or "".
std::string fileOf(const std::string& folder, const std::string& key);
// Every contact has exactly one card that reads back as it, and the reverse.
::testing::AssertionResult inStep(const Book& book, const std::string& folder);

// Where a sync is cut short, as a kill would: after the folder's side, or
// after the book was saved as well; the next sync then runs whole.
enum class Cut { None, AfterFolder, AfterBook };

// run, store the changes into book, commit; bookDir: where the state goes.
SyncReport syncOnce(Book& book, const std::string& folder, const std::string& bookDir,
                    Cut cut = Cut::None, const SyncOptions& options = {});

// Sets the card's first property `name` to value, or adds it.
void setValue(VCard& card, const std::string& name, const std::string& value);

using Counts = std::tuple<int, int, int, int, int, int, int>;
Counts counts(const SyncReport& r);

class VdirSyncTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Both sides and the state as a first sync finds them.
    void startOver();
    SyncReport sync(Book& book, const std::string& folder, Cut cut = Cut::None,
                    const SyncOptions& options = {}) {
        return syncOnce(book, folder, bookDir_, cut, options);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string statePath() const { return syncPlaces(bookDir_, dir_).state; }
    std::string dir_;      // the vdir
    std::string bookDir_;  // the book's folder
};

}  // namespace contavio::synctest
