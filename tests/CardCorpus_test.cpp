// The cards of tests/cards, written the way phones, servers and address
// books write them (tests/cards/make_cards.py), against the table of what
// the book must hold of each (tests/cards/expected.tsv).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "exchange/CardContact.h"
#include "exchange/VCardText.h"

namespace contavio {
namespace {

const std::filesystem::path kCards = CONTAVIO_CARDS;

std::string bytesOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// A UTF-8 text read as Windows-1252 shows "Ã" or "Â" before a byte of
// 0x80..0xBF.
bool looksMisread(const std::string& cp1252) {
    for (size_t i = 0; i + 1 < cp1252.size(); ++i) {
        const auto next = static_cast<unsigned char>(cp1252[i + 1]);
        if ((cp1252[i] == '\xC3' || cp1252[i] == '\xC2') && next >= 0x80 && next < 0xC0) {
            return true;
        }
    }
    return false;
}

TEST(CardCorpus, EveryFileImportsAsTheTableSays) {
    std::map<std::string, std::vector<std::string>> table;  // file: "first|last|marks"
    std::istringstream lines(bytesOf(kCards / "expected.tsv"));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns = split(line, '\t');
        const std::string file = columns.front();
        columns.erase(columns.begin());
        table[file] = columns;
    }
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCards)) {
        if (entry.path().extension() != ".vcf") continue;
        ++files;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        ASSERT_TRUE(table.count(name)) << "every card file is in the table";
        const std::vector<CardImport> cards = importVCards(bytesOf(entry.path()));
        const std::vector<std::string>& want = table[name];
        ASSERT_EQ(cards.size(), want.size());
        for (size_t i = 0; i < cards.size(); ++i) {
            SCOPED_TRACE(i + 1);
            const std::vector<std::string> w = split(want[i], '|');
            ASSERT_EQ(w.size(), 3u);
            const CardImport& card = cards[i];
            EXPECT_EQ(card.contact.firstNames, utf8ToCp1252(w[0]));
            EXPECT_EQ(card.contact.surnames, utf8ToCp1252(w[1]));
            EXPECT_EQ(card.nameless, w[2].find('n') != std::string::npos);
            EXPECT_EQ(!card.writtenName.empty(), w[2].find('t') != std::string::npos);
            EXPECT_EQ(!card.damage.empty(), w[2].find('d') != std::string::npos);
            // Readable names: no text read in the wrong code page, no letter
            // turned into '?' (only the emoji of one card is).
            const std::string names = card.contact.firstNames + card.contact.surnames;
            EXPECT_FALSE(looksMisread(names)) << names;
            EXPECT_EQ(names.find('?'), w[0].find('?')) << names;
        }
    }
    EXPECT_GE(files, 40u);
    EXPECT_EQ(files, table.size()) << "every row of the table has its file";
}

}  // namespace
}  // namespace contavio
