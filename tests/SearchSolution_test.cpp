#include "engine/SearchSolution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SmallStack.h"
#include "engine/SearchCache.h"
#include "engine/UhashElem.h"

namespace contavio {
using testing::runOnSmallStack;
namespace {

using Lines = std::vector<std::string>;

struct Listing {
    Lines lines;
    std::optional<sVector> texts;
    std::optional<sVector> keys;
};

Listing listOf(SSol* sol) {
    VectorLineList lines;
    Listing out;
    listSSol(sol, lines, out.texts, out.keys);
    out.lines = lines.lines;
    return out;
}

// A listing with results: lines and texts agree line for line.
void expectListed(const Listing& got, const Lines& texts, const Lines& keys) {
    EXPECT_EQ(got.lines, texts);
    ASSERT_TRUE(got.texts.has_value());
    ASSERT_TRUE(got.keys.has_value());
    EXPECT_EQ(*got.texts, texts);
    EXPECT_EQ(*got.keys, keys);
}

TEST(CompareSSolText, FoldsOnlyLowerCasePlainLetters) {
    EXPECT_LT(compareSSolText("Zoe ", "_x "), 0);
    EXPECT_LT(compareSSolText("zoe ", "_x "), 0);
    EXPECT_EQ(compareSSolText("zoe ", "ZOE "), 0);
    EXPECT_EQ(compareSSolText("ana lopez ", "Ana Lopez "), 0);
    EXPECT_LT(compareSSolText("a", "["), 0);
    EXPECT_GT(compareSSolText("`", "A"), 0);
    EXPECT_NE(compareSSolText("\xE1", "\xC1"), 0);
}

TEST(CompareSSolText, ComparesBytesUnsignedAndPrefixesFirst) {
    EXPECT_GT(compareSSolText("\xC1lvaro ", "Zoe "), 0);
    EXPECT_LT(compareSSolText("Zoe ", "\xC1lvaro "), 0);
    EXPECT_GT(compareSSolText("\xFF", "\x80"), 0);
    EXPECT_LT(compareSSolText("Ana ", "Ana Maria "), 0);
    EXPECT_GT(compareSSolText("Ana Maria ", "Ana "), 0);
    EXPECT_LT(compareSSolText("", "a"), 0);
    EXPECT_EQ(compareSSolText("", ""), 0);
}

TEST(SSol, NewCollectionIsEmpty) {
    auto sol = newSSol();
    ASSERT_NE(sol, nullptr);
    EXPECT_EQ(countSSol(sol.get()), 0);
}

TEST(SSol, ListingWithoutResultsGivesTheNoMatchLineAndReleasesTheHolders) {
    auto sol = newSSol();
    VectorLineList lines;
    lines.lines = {"old 1", "old 2"};
    std::optional<sVector> texts = sVector{"a", "b"};
    std::optional<sVector> keys = sVector{"c"};
    listSSol(sol.get(), lines, texts, keys);
    EXPECT_EQ(lines.lines, Lines{"No se encontraron coincidencias... "});
    EXPECT_FALSE(texts.has_value());
    EXPECT_FALSE(keys.has_value());
}

TEST(SSol, AddedTextsEndAtTheirFirstNul) {
    auto sol = newSSol();
    addSSol(sol.get(), std::string("k1\0x", 4), std::string("Ana \0Maria", 10));
    EXPECT_EQ(countSSol(sol.get()), 1);
    expectListed(listOf(sol.get()), {"Ana "}, {"k1"});
}

TEST(SSol, ListsInTextOrderKeepingAddOrderForEqualTexts) {
    auto sol = newSSol();
    const Lines added = {"_x ", "zoe ", "\xC1lvaro ", "Zoe ", "Ana Maria ", "Ana ", "ZOE "};
    for (size_t i = 0; i < added.size(); ++i) addSSol(sol.get(), "k" + std::to_string(i), added[i]);
    EXPECT_EQ(countSSol(sol.get()), 7);
    expectListed(listOf(sol.get()),
                 {"Ana ", "Ana Maria ", "zoe ", "Zoe ", "ZOE ", "_x ", "\xC1lvaro "},
                 {"k5", "k4", "k1", "k3", "k6", "k0", "k2"});
}

TEST(SSol, ListingTwiceGivesTheSameLinesAndReplacesEarlierContents) {
    auto sol = newSSol();
    addSSol(sol.get(), "kb", "Bea ");
    addSSol(sol.get(), "ka", "Ana ");
    VectorLineList lines;
    lines.lines = {"old"};
    std::optional<sVector> texts = sVector{"x", "y", "z", "w"};
    std::optional<sVector> keys = sVector{"q"};
    for (int round = 0; round < 2; ++round) {
        listSSol(sol.get(), lines, texts, keys);
        EXPECT_EQ(lines.lines, (Lines{"Ana ", "Bea "}));
        EXPECT_EQ(texts, (sVector{"Ana ", "Bea "}));
        EXPECT_EQ(keys, (sVector{"ka", "kb"}));
    }
}

// Listings one after another into the same holders, large (two threads) and
// small, longer and shorter texts: each gives exactly its own results, nothing
// left over from the one before.
TEST(SSol, ListingsIntoTheSameHoldersGiveOnlyTheirOwnResults) {
    VectorLineList lines;
    std::optional<sVector> texts, keys;
    const struct {
        size_t count;
        std::string filler;
    } rounds[] = {{25000, "a long text that the string keeps on the heap"},
                  {30000, ""},
                  {24000, "medium text of some size"},
                  {3, "x"},
                  {0, ""},
                  {26000, "another long text kept on the heap, longer"}};
    for (const auto& round : rounds) {
        auto sol = newSSol();
        Lines wantTexts, wantKeys;
        for (size_t i = 0; i < round.count; ++i) {
            char rank[32];
            std::snprintf(rank, sizeof rank, "%08zu ", i);
            wantTexts.push_back(rank + round.filler);
            wantKeys.push_back("k" + std::to_string(i) + round.filler);
        }
        for (size_t i = round.count; i-- > 0;) addSSol(sol.get(), wantKeys[i], wantTexts[i]);
        listSSol(sol.get(), lines, texts, keys);
        if (round.count == 0) {
            EXPECT_EQ(lines.lines, (Lines{kNoMatchesLine}));
            EXPECT_FALSE(texts.has_value());
            EXPECT_FALSE(keys.has_value());
            continue;
        }
        EXPECT_EQ(lines.lines, wantTexts) << round.count;
        EXPECT_EQ(texts, wantTexts) << round.count;
        EXPECT_EQ(keys, wantKeys) << round.count;
    }
}

TEST(SSol, ResultsAddedAfterAListingAreOrderedToo) {
    auto sol = newSSol();
    addSSol(sol.get(), "1", "Bea ");
    addSSol(sol.get(), "2", "Carla ");
    listOf(sol.get());
    addSSol(sol.get(), "3", "Ana ");
    addSSol(sol.get(), "4", "bea ");
    EXPECT_EQ(countSSol(sol.get()), 4);
    expectListed(listOf(sol.get()), {"Ana ", "Bea ", "bea ", "Carla "}, {"3", "1", "4", "2"});
}

// Adds n results in the given order of their ranks and checks the listing
// shows them by rank; letter case alternates so that ordering needs folding.
void checkLargeListing(const std::vector<int>& ranks) {
    auto textOf = [](int rank) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%c%07d ", rank % 2 ? 'r' : 'R', rank);
        return std::string(buf);
    };
    auto sol = newSSol();
    Listing got;
    runOnSmallStack([&] {
        for (int r : ranks) addSSol(sol.get(), std::to_string(r), textOf(r));
        got = listOf(sol.get());
    });
    const size_t n = ranks.size();
    EXPECT_EQ(countSSol(sol.get()), static_cast<int32_t>(n));
    ASSERT_EQ(got.lines.size(), n);
    ASSERT_TRUE(got.texts && got.keys);
    ASSERT_EQ(got.texts->size(), n);
    ASSERT_EQ(got.keys->size(), n);
    size_t wrong = 0;
    for (size_t i = 0; i < n; ++i) {
        const int r = static_cast<int>(i);
        if (got.lines[i] != textOf(r) || (*got.texts)[i] != textOf(r) ||
            (*got.keys)[i] != std::to_string(r)) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(SSol, ListsManyResultsAddedInTextOrder) {
    std::vector<int> ranks(300000);
    for (int i = 0; i < 300000; ++i) ranks[i] = i;
    checkLargeListing(ranks);
}

TEST(SSol, ListsManyResultsAddedInReverseTextOrder) {
    std::vector<int> ranks(300000);
    for (int i = 0; i < 300000; ++i) ranks[i] = 299999 - i;
    checkLargeListing(ranks);
}

TEST(SSol, ManyEqualTextsKeepTheirAddOrder) {
    // Every even result lists before every odd one; within each half the
    // texts are equal, so the add order must survive the sort.
    auto sol = newSSol();
    Listing got;
    runOnSmallStack([&] {
        for (int i = 0; i < 300000; ++i) addSSol(sol.get(), std::to_string(i), i % 2 ? "b" : "A");
        got = listOf(sol.get());
    });
    ASSERT_TRUE(got.keys.has_value());
    ASSERT_EQ(got.keys->size(), 300000u);
    size_t wrong = 0;
    for (int i = 0; i < 300000; ++i) {
        const int expected = i < 150000 ? 2 * i : 2 * (i - 150000) + 1;
        wrong += (*got.keys)[i] != std::to_string(expected);
    }
    EXPECT_EQ(wrong, 0u);
}

// The text search over a keyed set. Elements have one integer field and four
// string fields: 0 the key, 1 first names, 2 surnames, 3 area.
struct SearchTest : ::testing::Test {
    hashElemR* set = nullptr;
    ~SearchTest() override {
        if (set != nullptr) destroyHashE(set);
    }
    void make(int32_t size, int32_t keyField = 0) {
        set = newHashElem(size, 0, "Contacto", keyField);
        TprotoData proto;
        proto.setData(1, 4, 0);
        setProtoHashE(set, proto);
    }
    static std::unique_ptr<TElem> elemOf(const Lines& strs, int32_t intKey = 0) {
        auto elem = std::make_unique<TElem>();
        TprotoData proto;
        proto.setData(1, 4, 0);
        elem->setProto(proto);
        for (size_t i = 0; i < strs.size(); ++i) elem->setStr(static_cast<int32_t>(i), strs[i]);
        elem->setInt(0, intKey);
        return elem;
    }
    void add(const Lines& strs) { addSHashE(elemOf(strs), set); }
    Listing find(const std::string& text, const iVector& searchFields = {1, 2, 3},
                 const iVector& displayFields = {1, 2, 3}) {
        auto sol = searchHashE(set, text, searchFields, displayFields);
        EXPECT_NE(sol, nullptr);
        if (sol == nullptr) return {};
        Listing got = listOf(sol.get());
        EXPECT_EQ(countSSol(sol.get()), got.keys ? static_cast<int32_t>(got.keys->size()) : 0);
        return got;
    }
    Lines keysFound(const std::string& text, const iVector& searchFields = {1, 2, 3}) {
        Listing got = find(text, searchFields);
        return got.keys ? *got.keys : Lines{};
    }
};

TEST_F(SearchTest, EmptySetFindsNothing) {
    make(256);
    auto sol = searchHashE(set, "", {1, 2, 3}, {1, 2, 3});
    EXPECT_EQ(countSSol(sol.get()), 0);
    Listing got = listOf(sol.get());
    EXPECT_EQ(got.lines, Lines{"No se encontraron coincidencias... "});
    EXPECT_FALSE(got.texts.has_value());
    EXPECT_FALSE(got.keys.has_value());
}

TEST_F(SearchTest, ElementMatchingInEveryFieldIsListedOnce) {
    make(256);
    add({"k1", "Ana", "Ana", "Ana"});
    expectListed(find("ana"), {"Ana Ana Ana "}, {"k1"});
}

TEST_F(SearchTest, MatchingFoldsOnlyPlainLetters) {
    make(256);
    add({"k1", "Mariana", "Perez", "Norte"});
    add({"k2", "Jos\xE9", "Ruiz", "Sur"});
    EXPECT_EQ(keysFound("ANA"), Lines{"k1"});
    EXPECT_EQ(keysFound("JOS\xC9"), Lines{});
    EXPECT_EQ(keysFound("JOS\xE9"), Lines{"k2"});
    EXPECT_EQ(keysFound("Ana Perez"), Lines{});
}

TEST_F(SearchTest, DisplayTextEndsEveryFieldWithABlank) {
    make(256);
    add({"k1", "Ana", "Lopez", "Centro"});
    expectListed(find("lop"), {"Ana Lopez Centro "}, {"k1"});
    expectListed(find("lop", {1, 2, 3}, {3, 1}), {"Centro Ana "}, {"k1"});
}

TEST_F(SearchTest, MatchInAFieldNotShownStillLists) {
    make(256);
    add({"k1", "Ana", "Lopez", "Centro"});
    expectListed(find("centro", {3}, {1}), {"Ana "}, {"k1"});
    EXPECT_FALSE(find("centro", {1, 2}).keys.has_value());
}

TEST_F(SearchTest, KeyIsTakenFromTheKeyField) {
    make(256, 2);
    add({"name", "Ana", "KEY-1", "Centro"});
    expectListed(find("ana"), {"Ana KEY-1 Centro "}, {"KEY-1"});
}

TEST_F(SearchTest, IntegerKeyedSetReportsTheStringFieldAtKeyField) {
    make(5, 0);
    addIHashE(elemOf({"S0", "Ana", "", ""}, 7), set);
    expectListed(find("an", {1}, {1}), {"Ana "}, {"S0"});
}

TEST_F(SearchTest, EmptyValuesNeverMatch) {
    make(256);
    add({"blank", "", "", ""});
    add({"one", "", "x", ""});
    EXPECT_EQ(keysFound(""), Lines{"one"});
    EXPECT_EQ(keysFound("x"), Lines{"one"});
    EXPECT_EQ(keysFound(" "), Lines{});
}

TEST_F(SearchTest, EmptySearchFieldsFindNothing) {
    make(256);
    add({"k1", "Ana", "Lopez", "Centro"});
    EXPECT_FALSE(find("", {}).keys.has_value());
    EXPECT_EQ(find("Ana", {}).lines, Lines{"No se encontraron coincidencias... "});
}

TEST_F(SearchTest, EmptyDisplayFieldsListInWalkOrder) {
    make(3);  // "c" in bucket 0, "a" and "d" in bucket 1, "b" in bucket 2
    for (const char* k : {"a", "b", "c", "d"}) add({k, "m", "", ""});
    expectListed(find("M", {1}, {}), {"", "", "", ""}, {"c", "d", "a", "b"});
}

TEST_F(SearchTest, EqualDisplayTextsKeepWalkOrder) {
    make(1);
    add({"k1", "ana", "lopez", ""});
    add({"k2", "Ana", "Lopez", ""});
    add({"k3", "Zoe", "", ""});
    add({"k4", "ANA", "LOPEZ", ""});
    expectListed(find("", {1}, {1, 2}), {"ANA LOPEZ ", "Ana Lopez ", "ana lopez ", "Zoe  "},
                 {"k4", "k2", "k1", "k3"});
}

TEST_F(SearchTest, WalkOrderFollowsReplacementsAndDeletions) {
    make(1);
    for (const char* k : {"k1", "k2", "k3", "k4"}) add({k, "m", "", ""});
    add({"k2", "m", "", ""});  // chain k2, k4, k3, k1
    delSHashE("k3", 0, set);   // k2 moves into k3's node: k4, k2, k1
    expectListed(find("m", {1}, {}), {"", "", ""}, {"k4", "k2", "k1"});
}

// A search by hand: walk the chains from the first bucket, test every value
// of the search fields ('A'..'Z' folded, empty values never match), then a
// stable sort of the display texts.
Listing walkAndSort(const hashElemR* set, const std::string& text, const iVector& searchFields,
                    const iVector& displayFields) {
    const auto fold = [](std::string v) {
        for (char& c : v) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
        return v;
    };
    std::vector<std::pair<std::string, std::string>> found;  // display, key
    for (const auto& head : set->table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            const TElem& e = *node->elem;
            bool hit = false;
            for (int32_t f : searchFields) {
                hit = hit ||
                      (!e.str(f).empty() && fold(e.str(f)).find(fold(text)) != std::string::npos);
            }
            if (!hit) continue;
            std::string display;
            for (int32_t f : displayFields) display += e.str(f) + " ";
            found.emplace_back(display, e.str(set->keyField));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return compareSSolText(a.first, b.first) < 0;
    });
    Listing out;
    if (found.empty()) {
        out.lines = {kNoMatchesLine};
        return out;
    }
    out.texts.emplace();
    out.keys.emplace();
    for (const auto& [display, key] : found) {
        out.lines.push_back(display);
        out.texts->push_back(display);
        out.keys->push_back(key);
    }
    return out;
}

// Searches with tens of thousands of results, listed every time after
// insertions, replacements and deletions, against a search by hand.
TEST_F(SearchTest, LargeSearchesListAsAWalkOfTheChainsSortedByText) {
    make(97);
    const Lines names = {"Ana",
                         "ana",
                         "Jos\xE9",
                         "Mar\xED"
                         "a",
                         "",
                         "Zoe",
                         "\xC1ngel",
                         "luis"};
    const Lines surnames = {"L\xF3pez",
                            "Garc\xED"
                            "a",
                            "",
                            "Ruiz",
                            "ruiz",
                            "P\xE9rez"};
    int next = 0;
    const auto addSome = [&](int count) {
        for (int i = 0; i < count; ++i, ++next) {
            add({"k" + std::to_string(next * 7919 % 100003), names[next % names.size()],
                 surnames[next / 3 % surnames.size()],
                 next % 5 == 0 ? "" : "Centro " + std::to_string(next % 13)});
        }
    };
    addSome(45000);
    for (int round = 0; round < 3; ++round) {
        for (const std::string text : {"", "an", "RUIZ", "centro 1", "\xE1ngel", "nadie"}) {
            SCOPED_TRACE(round);
            SCOPED_TRACE(text);
            const Listing want = walkAndSort(set, text, {1, 2, 3}, {1, 2, 3});
            const Listing got = find(text);
            ASSERT_EQ(got.lines.size(), want.lines.size());
            EXPECT_TRUE(got.lines == want.lines);
            EXPECT_TRUE(got.texts == want.texts);
            EXPECT_TRUE(got.keys == want.keys);
        }
        // Replacements keep ids and move to the chain's head; deletions move
        // the head element into the deleted node.
        for (int i = 0; i < 3000; ++i) {
            add({"k" + std::to_string(i * 31 % 100003), "Nuevo", "Ruiz", "Sur"});
            std::string key = "k" + std::to_string((i * 7919 + 13) % 100003);
            delSHashE(key, 0, set);
        }
        addSome(5000);
    }
}

// The first search of a set of each size lists through its sorted order;
// settled, or left to the next search, the cache lists the same as a walk.
// The sizes cross the thresholds of the radix sort of the nodes (4096) and
// of the second thread (20000).
TEST_F(SearchTest, FirstSearchThenSettledListsAsAWalk) {
    for (const int size : {900, 6000, 26000}) {
        for (const bool settled : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (settled ? " settled" : ""));
            if (set != nullptr) destroyHashE(set);
            make(size / 3 + 1);
            for (int i = 0; i < size; ++i) {
                add({"k" + std::to_string(i * 7919 % 100003), i % 7 == 0 ? "Ana" : "Luis",
                     i % 3 == 0 ? "" : "Ruiz " + std::to_string(i % 11), i % 5 ? "Sur" : ""});
            }
            for (const std::string text : {"", "an", "ruiz 1"}) {
                if (settled) settleSearchHashE(set);
                const Listing got = find(text);
                const Listing want = walkAndSort(set, text, {1, 2, 3}, {1, 2, 3});
                EXPECT_TRUE(got.keys == want.keys) << "'" << text << "'";
                EXPECT_TRUE(got.texts == want.texts) << "'" << text << "'";
            }
        }
    }
}

// The first search sizes its cache's buffers from a sample of the elements
// (every 64th node in memory order): large elements in the sample leave it
// room for a few times what it holds, not for as many large elements again.
TEST_F(SearchTest, FirstSearchReservesAFewTimesWhatItUses) {
    make(10007);
    for (int i = 0; i < 20480; ++i) add({"k" + std::to_string(i), "Ana", "Ruiz", "Sur"});
    std::vector<nodoHash*> nodes;
    for (const auto& head : set->table) {
        for (nodoHash* n = head.get(); n != nullptr; n = n->next.get()) nodes.push_back(n);
    }
    std::sort(nodes.begin(), nodes.end(), std::less<nodoHash*>());
    for (size_t k = 0; k < nodes.size(); k += 640)
        nodes[k]->elem->setStr(3, Lines::value_type(1 << 16, 'x'));
    find("ana");
    ASSERT_NE(set->cache, nullptr);
    EXPECT_LE(set->cache->reservedBytes(), 4 * set->cache->usedBytes());
}

// The cache a search made serves the next one: insertions go into it, laid
// out or not, and a search with no search fields, which finds nothing,
// leaves it alone.
TEST_F(SearchTest, TheCacheOutlastsInsertionsAndSearchesWithoutFields) {
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"insertions",
         [this] {
             for (int i = 0; i < 500; ++i) add({"n" + std::to_string(i), "Eva", "Paz", ""});
         }},
        {"no search fields", [this] { find("ana", {}); }},
    };
    for (const bool settled : {false, true}) {
        for (const auto& [name, step] : steps) {
            SCOPED_TRACE(std::string(name) + (settled ? ", settled" : ""));
            if (set != nullptr) destroyHashE(set);
            make(101);
            for (int i = 0; i < 300; ++i) add({"k" + std::to_string(i), "Ana", "Ruiz", "Sur"});
            find("ana");
            if (settled) settleSearchHashE(set);
            const SearchCache* made = set->cache.get();
            step();
            EXPECT_EQ(set->cache.get(), made);
        }
    }
}

// A set that was never searched, with the same chains as `set`: each
// bucket's elements inserted again from the tail of its chain to its head.
hashElemR* freshCopy(const hashElemR* set) {
    hashElemR* copy = newHashElem(set->size, set->data, set->name, set->keyField);
    setProtoHashE(copy, *set->proto);
    std::vector<const TElem*> chain;
    for (const auto& head : set->table) {
        chain.clear();
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            chain.push_back(node->elem.get());
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            addSHashE(SearchTest::elemOf((*it)->getStrs(), (*it)->getInt(0)), copy);
        }
    }
    return copy;
}

// Insertions, replacements and deletions after a search, in batches of
// every size between two searches (a few, many, mostly deletions), listed
// as a set built fresh from the same chains lists, and as a walk by hand.
// Few distinct display texts, so that equal texts keep the walk's order.
TEST_F(SearchTest, EditsAfterASearchListAsAFreshSetDoes) {
    make(61);
    const Lines names = {"Ana", "ana", "Luis", "", "\xC1ngel"};
    const Lines surnames = {"Ruiz", "RUIZ", "Paz"};
    uint32_t seed = 7;
    const auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    const auto randomKey = [&] { return "k" + std::to_string(next(30000)); };
    const auto addRandom = [&] {
        add({randomKey(), names[next(5)], surnames[next(3)], next(4) == 0 ? "" : "Sur"});
    };
    for (int i = 0; i < 22000; ++i) addRandom();
    settleSearchHashE(set);  // no search yet: nothing to settle
    find("an");
    // Edits in each batch: 0 for a search with nothing new, 40 that wait
    // for their place, 6000 that are sorted with the rest, then deletions
    // that leave most entries of the cache dead, then a mixed run. After
    // every other batch the cache is settled before the searches, as a
    // window settles it when idle; the others leave that to the search.
    bool settle = false;
    for (const int batch : {0, 40, 6000, 25000, 3000}) {
        SCOPED_TRACE(batch);
        for (int i = 0; i < batch; ++i) {
            const uint32_t op = batch == 25000 ? 2 : next(3);  // 0, 1 insert or replace, 2 delete
            if (op < 2) {
                addRandom();
            } else {
                delSHashE(randomKey(), 0, set);
            }
        }
        if (settle) settleSearchHashE(set);
        settle = !settle;
        hashElemR* fresh = freshCopy(set);
        ASSERT_EQ(countHashE(fresh), countHashE(set));
        for (const std::string text : {"", "an", "ruiz", "\xE1ngel", "sur", "nadie"}) {
            SCOPED_TRACE(text);
            const Listing got = find(text, {1, 2, 3}, {1, 2});
            auto sol = searchHashE(fresh, text, {1, 2, 3}, {1, 2});
            const Listing want = listOf(sol.get());
            ASSERT_EQ(got.lines.size(), want.lines.size());
            EXPECT_TRUE(got.lines == want.lines);
            EXPECT_TRUE(got.texts == want.texts);
            EXPECT_TRUE(got.keys == want.keys);
            EXPECT_TRUE(got.keys == walkAndSort(set, text, {1, 2, 3}, {1, 2}).keys);
        }
        destroyHashE(fresh);
    }
}

TEST_F(SearchTest, ResultsStayReadableAfterTheSetIsGone) {
    make(16);
    add({"k1", "Ana", "Lopez", "Centro"});
    auto sol = searchHashE(set, "ana", {1}, {1, 2});
    destroyHashE(set);
    expectListed(listOf(sol.get()), {"Ana Lopez "}, {"k1"});
}

}  // namespace
}  // namespace contavio
