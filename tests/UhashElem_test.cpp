#include "engine/UhashElem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "SmallStack.h"
#include "engine/Constantes.h"
#include "engine/basicOps.h"

namespace contavio {
using testing::runOnSmallStack;
namespace {

const char* const kBadSize =
    "ERROR @ newHashElem (hashE): El tama\xF1o del hash debe ser mayor que 0 (cero).";
const char* const kNoSet = "ERROR @ destroyHashE (hashE): Conjunto vac\xEDo! (Hash = nil).";
const char* const kDelNoBucket =
    "WARNING @ delSHashE (hashE): Elemento solicitado para borrar no encontrado (";
const char* const kDelNotInChain =
    "WARNING @ delSHashE (hashE): Elemento solicitado para borrar con encontrado.";
const char* const kGetNoBucket =
    "WARNING @ getSHashElem (UhashElem): Elemento solicitado no encontrado (";

TprotoData recordProto() {
    TprotoData proto;
    proto.setData(1, 3, 0);
    return proto;
}

// String field 0 is the key, field 1 a tag telling elements apart; integer
// field 0 holds intKey.
std::unique_ptr<TElem> makeElem(const std::string& key, const std::string& tag = "",
                                int32_t intKey = 0) {
    auto elem = std::make_unique<TElem>();
    elem->setProto(recordProto());
    elem->setStr(0, key);
    elem->setStr(1, tag);
    elem->setInt(0, intKey);
    return elem;
}

struct HashTest : ::testing::Test {
    hashElemR* set = nullptr;

    void SetUp() override { resetStatus(); }
    ~HashTest() override {
        if (set != nullptr) destroyHashE(set);
    }
    void make(int32_t size, int32_t keyField = 0) {
        set = newHashElem(size, 0, "Prueba", keyField);
        ASSERT_NE(set, nullptr);
        setProtoHashE(set, recordProto());
    }
    void add(const std::string& key, const std::string& tag = "") {
        addSHashE(makeElem(key, tag), set);
    }
    // The chain of bucket b from its head, as "key/tag#id".
    std::vector<std::string> chain(int32_t b) const {
        std::vector<std::string> out;
        for (const nodoHash* n = set->table[b].get(); n != nullptr; n = n->next.get()) {
            out.push_back(n->elem->str(0) + "/" + n->elem->str(1) + "#" + std::to_string(n->id));
        }
        return out;
    }
    std::string tagOf(const std::string& key) {
        TElem* e = getSHashElem(key, 0, set);
        return e == nullptr ? "<none>" : e->str(1);
    }
    static void resetStatus() {
        hashErrMsg.clear();
        hashErrCode = ERR_OK;
    }
    static void setEarlierWarning() {
        hashErrMsg = "WARNING @ earlier";
        hashErrCode = ERR_NOT_FOUND;
    }
    static void expectStatus(const std::string& msg, int32_t code) {
        EXPECT_EQ(hashErrMsg, msg);
        EXPECT_EQ(hashErrCode, code);
    }
    // Inserts Z, Y and X into a one-bucket set: the chain is X#3, Y#2, Z#1.
    void makeXyz() {
        make(1);
        add("Z", "z");
        add("Y", "y");
        add("X", "x");
        ASSERT_EQ(chain(0), (std::vector<std::string>{"X/x#3", "Y/y#2", "Z/z#1"}));
    }
};

TEST_F(HashTest, NewHashElemRefusesSizesBelowOne) {
    for (int32_t size : {0, -1, INT_MIN}) {
        resetStatus();
        EXPECT_EQ(newHashElem(size, 0, "x", 0), nullptr);
        expectStatus(kBadSize, ERR_BAD_SIZE);
    }
}

TEST_F(HashTest, NewSetIsEmptyAndLeavesTheStatusAlone) {
    setEarlierWarning();
    set = newHashElem(7, 42, "Contacto", 2);
    ASSERT_NE(set, nullptr);
    expectStatus("WARNING @ earlier", ERR_NOT_FOUND);
    EXPECT_EQ(set->size, 7);
    ASSERT_EQ(set->table.size(), 7u);
    for (const auto& head : set->table) EXPECT_EQ(head, nullptr);
    EXPECT_EQ(countHashE(set), 0);
    EXPECT_EQ(set->lastId, 1);
    EXPECT_EQ(set->data, 42);
    EXPECT_EQ(set->name, "Contacto");
    EXPECT_EQ(set->keyField, 2);
    EXPECT_EQ(set->proto, nullptr);
}

TEST_F(HashTest, SetKeepsItsOwnSchemaCopy) {
    set = newHashElem(3, 0, "x", 0);
    TprotoData proto;
    proto.setData(1, 2, 3);
    proto.setListData(4, 5, 6);
    setEarlierWarning();
    setProtoHashE(set, proto);
    proto.setData(9, 9, 9);
    ASSERT_NE(set->proto, nullptr);
    EXPECT_EQ(set->proto->nInt, 1);
    EXPECT_EQ(set->proto->nStr, 2);
    EXPECT_EQ(set->proto->nIntList, 4);
    EXPECT_EQ(set->proto->nFloatList, 6);
    expectStatus("WARNING @ earlier", ERR_NOT_FOUND);
}

TEST_F(HashTest, NewKeysGoToTheHeadWithRisingIds) {
    make(1);
    setEarlierWarning();
    add("A", "a");
    add("B", "b");
    add("C", "c");
    EXPECT_EQ(chain(0), (std::vector<std::string>{"C/c#3", "B/b#2", "A/a#1"}));
    EXPECT_EQ(countHashE(set), 3);
    EXPECT_EQ(set->lastId, 3);
    expectStatus("WARNING @ earlier", ERR_NOT_FOUND);
}

TEST_F(HashTest, ReplacingAKeyKeepsItsIdAndMovesItToTheHead) {
    make(1);
    add("Ana", "first");
    add("Bea", "bea");
    add("Ana", "second");
    EXPECT_EQ(chain(0), (std::vector<std::string>{"Ana/second#1", "Bea/bea#2"}));
    EXPECT_EQ(countHashE(set), 2);
    EXPECT_EQ(set->lastId, 2);
    add("Bea", "again");
    EXPECT_EQ(chain(0), (std::vector<std::string>{"Bea/again#2", "Ana/second#1"}));
}

TEST_F(HashTest, ReplacingInTheMiddleOfAChainUnlinksTheOldNode) {
    make(1);
    for (const char* k : {"A", "B", "C"}) add(k, "old");
    add("B", "new");
    EXPECT_EQ(chain(0), (std::vector<std::string>{"B/new#2", "C/old#3", "A/old#1"}));
    EXPECT_EQ(countHashE(set), 3);
    EXPECT_EQ(set->lastId, 3);
}

TEST_F(HashTest, KeysWithEqualByteSumsShareABucketAndAreBothFound) {
    make(7);
    add("ab", "1");
    add("ba", "2");
    const int32_t b = hashStr("ab", 7);
    EXPECT_EQ(chain(b), (std::vector<std::string>{"ba/2#2", "ab/1#1"}));
    EXPECT_EQ(tagOf("ab"), "1");
    EXPECT_EQ(tagOf("ba"), "2");
}

TEST_F(HashTest, KeysCompareByteForByte) {
    make(1);
    for (const char* k : {"Ana", "ana", "Ana ", "An", "ANA"}) add(k, k);
    EXPECT_EQ(countHashE(set), 5);
    for (const char* k : {"Ana", "ana", "Ana ", "An", "ANA"}) EXPECT_EQ(tagOf(k), k);
    EXPECT_EQ(getSHashElem("aNa", 0, set), nullptr);
    add("Jos\xE9", "lower");
    add("Jos\xC9", "upper");
    EXPECT_EQ(tagOf("Jos\xE9"), "lower");
    EXPECT_EQ(tagOf("Jos\xC9"), "upper");
}

TEST_F(HashTest, DeletingBelowTheHeadMovesTheHeadElementIntoTheDeletedNode) {
    makeXyz();
    const TElem* xElem = getSHashElem("X", 0, set);
    setEarlierWarning();
    delSHashE("Z", 0, set);
    expectStatus("", ERR_OK);
    EXPECT_EQ(chain(0), (std::vector<std::string>{"Y/y#2", "X/x#1"}));
    EXPECT_EQ(set->table[0]->next->elem.get(), xElem);
    EXPECT_EQ(countHashE(set), 2);
    EXPECT_EQ(set->lastId, 3);
    EXPECT_EQ(getSHashElem("Z", 0, set), nullptr);
}

TEST_F(HashTest, DeletingTheMiddleOfAChain) {
    makeXyz();
    delSHashE("Y", 0, set);
    expectStatus("", ERR_OK);
    EXPECT_EQ(chain(0), (std::vector<std::string>{"X/x#2", "Z/z#1"}));
}

TEST_F(HashTest, DeletingTheHeadUnlinksIt) {
    makeXyz();
    setEarlierWarning();
    delSHashE("X", 0, set);
    expectStatus("", ERR_OK);
    EXPECT_EQ(chain(0), (std::vector<std::string>{"Y/y#2", "Z/z#1"}));
    delSHashE("Y", 0, set);
    delSHashE("Z", 0, set);
    EXPECT_EQ(set->table[0], nullptr);
    EXPECT_EQ(countHashE(set), 0);
    EXPECT_EQ(set->lastId, 3);
}

TEST_F(HashTest, DeletingFromAnEmptyBucketWarnsWithTheKey) {
    make(256);
    add("Ana");
    ASSERT_NE(hashStr("Zed", 256), hashStr("Ana", 256));
    delSHashE("Zed", 0, set);
    expectStatus(std::string(kDelNoBucket) + "Zed)", ERR_NOT_FOUND);
    EXPECT_EQ(countHashE(set), 1);
}

TEST_F(HashTest, DeletingAMissingKeyFromABusyBucketWarnsWithoutTheKey) {
    make(1);
    add("Ana");
    add("Bea");
    delSHashE("Eva", 0, set);
    expectStatus(kDelNotInChain, ERR_NOT_FOUND);
    EXPECT_EQ(countHashE(set), 2);
    EXPECT_EQ(chain(0), (std::vector<std::string>{"Bea/#2", "Ana/#1"}));
    delSHashE("ana", 0, set);
    expectStatus(kDelNotInChain, ERR_NOT_FOUND);
}

TEST_F(HashTest, GetSHashElemLeavesTheStatusWhenFound) {
    make(7);
    add("ab", "1");
    setEarlierWarning();
    TElem* e = getSHashElem("ab", 0, set);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->str(1), "1");
    expectStatus("WARNING @ earlier", ERR_NOT_FOUND);
    resetStatus();
    EXPECT_NE(getSHashElem("ab", 0, set), nullptr);
    expectStatus("", ERR_OK);
}

TEST_F(HashTest, GetSHashElemWarnsWhenTheBucketIsEmpty) {
    make(256);
    add("Ana");
    EXPECT_EQ(getSHashElem("Zed", 0, set), nullptr);
    expectStatus(std::string(kGetNoBucket) + "Zed)", ERR_NOT_FOUND);
}

TEST_F(HashTest, GetSHashElemMissingFromABusyBucketReturnsNoneQuietly) {
    make(7);
    add("ab");
    EXPECT_EQ(getSHashElem("ba", 0, set), nullptr);
    expectStatus("", ERR_OK);
}

TEST_F(HashTest, LookupComparesTheNamedFieldInTheKeysBucket) {
    make(1);
    add("key", "tag");
    TElem* e = getSHashElem("tag", 1, set);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->str(0), "key");
    EXPECT_EQ(getSHashElem("tag", 0, set), nullptr);
    delSHashE("tag", 1, set);
    expectStatus("", ERR_OK);
    EXPECT_EQ(countHashE(set), 0);
}

TEST_F(HashTest, DestroyingTwiceReportsNoSet) {
    make(5);
    add("Ana");
    setEarlierWarning();
    destroyHashE(set);
    EXPECT_EQ(set, nullptr);
    expectStatus("", ERR_OK);
    destroyHashE(set);
    EXPECT_EQ(set, nullptr);
    expectStatus(kNoSet, ERR_NO_SET);
}

TEST_F(HashTest, IntegerKeysUseTheRemainderBucket) {
    make(5);
    addIHashE(makeElem("siete", "a", 7), set);
    addIHashE(makeElem("doce", "b", 12), set);
    addIHashE(makeElem("uno", "c", 1), set);
    ASSERT_NE(set->table[2], nullptr);
    EXPECT_EQ(set->table[2]->elem->getInt(0), 12);
    EXPECT_EQ(set->table[2]->next->elem->getInt(0), 7);
    EXPECT_EQ(set->table[2]->next->next, nullptr);
    EXPECT_EQ(set->table[1]->elem->getInt(0), 1);
    addIHashE(makeElem("siete bis", "d", 7), set);
    EXPECT_EQ(chain(2), (std::vector<std::string>{"siete bis/d#1", "doce/b#2"}));
    EXPECT_EQ(countHashE(set), 3);
    EXPECT_EQ(set->lastId, 3);
    for (int32_t b : {0, 3, 4}) EXPECT_EQ(set->table[b], nullptr);
}

TEST_F(HashTest, CountAndLastIdAfterDeletion) {
    make(256);
    add("a");  // buckets 97, 98 and 99
    add("b");
    add("c");
    delSHashE("a", 0, set);
    EXPECT_EQ(countHashE(set), 2);
    EXPECT_EQ(set->lastId, 3);
    add("d");
    // The new id is count + 1, the id that "c" still carries.
    EXPECT_EQ(chain(hashStr("d", 256)), (std::vector<std::string>{"d/#3"}));
    EXPECT_EQ(chain(hashStr("c", 256)), (std::vector<std::string>{"c/#3"}));
    EXPECT_EQ(countHashE(set), 3);
    EXPECT_EQ(set->lastId, 3);
}

// Puts n elements into the single chain of a one-bucket set directly: inserting
// them one by one would compare every key with the whole chain.
void fillLongChain(hashElemR* target, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        auto node = std::make_unique<nodoHash>();
        node->elem = makeElem("k" + std::to_string(i));
        node->id = i + 1;
        node->next = std::move(target->table[0]);
        target->table[0] = std::move(node);
    }
    target->count = n;
    target->lastId = n;
}

TEST_F(HashTest, LongSingleBucketChainIsDestroyedWithoutRecursion) {
    make(1);
    fillLongChain(set, 200000);
    EXPECT_EQ(countHashE(set), 200000);
    runOnSmallStack([this] { destroyHashE(set); });
    EXPECT_EQ(set, nullptr);
    expectStatus("", ERR_OK);

    hashElemR* other = newHashElem(1, 0, "otro", 0);
    fillLongChain(other, 200000);
    runOnSmallStack([other] { delete other; });
}

// The key field may be changed after creation, before the first insertion:
// the set then finds, replaces and deletes by the new one.
TEST_F(HashTest, KeyFieldChangedBeforeTheFirstInsertionIsTheKey) {
    for (const int32_t size : {1, 7, 256}) {
        SCOPED_TRACE(size);
        if (set != nullptr) destroyHashE(set);
        make(size, 0);
        set->keyField = 1;
        // Field 1 is now the key; field 0 tells the elements apart.
        add("first", "Ana");
        add("second", "Bea");
        add("third", "Ana");
        EXPECT_EQ(countHashE(set), 2);
        EXPECT_EQ(set->lastId, 2);
        EXPECT_EQ(chain(hashStr("Ana", size)).front(), "third/Ana#1");
        TElem* e = getSHashElem("Ana", 1, set);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->str(0), "third");
        EXPECT_EQ(getSHashElem("third", 0, set) == nullptr,
                  hashStr("third", size) != hashStr("Ana", size));
        auto sol = searchHashE(set, "a", iVector{1}, iVector{0});
        VectorLineList lines;
        std::optional<sVector> texts, keys;
        listSSol(sol.get(), lines, texts, keys);
        ASSERT_TRUE(keys.has_value());
        EXPECT_EQ(*keys, (sVector{"Bea", "Ana"}));  // "second ", "third "
        delSHashE("Ana", 1, set);
        expectStatus("", ERR_OK);
        delSHashE("Ana", 1, set);
        EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);
        EXPECT_EQ(countHashE(set), 1);
        EXPECT_EQ(tagOf("second"),
                  hashStr("second", size) == hashStr("Bea", size) ? "Bea" : "<none>");
    }
}

// Chains edited by hand, keeping the rules UhashElem.h states, after the set
// has built its key index and search cache: every operation afterwards
// (settling the cache first) agrees with a walk of the chains. Run under AddressSanitizer, a node
// the index or cache still pointed at would show as a use after free.
struct HandEdit {
    const char* name;
    std::function<void(hashElemR*)> edit;
    bool rescan;  // the edit keeps count, so the caller calls rescanHashE
};

std::unique_ptr<nodoHash> handNode(const std::string& key, const std::string& tag, int32_t id) {
    auto node = std::make_unique<nodoHash>();
    node->elem = makeElem(key, tag);
    node->id = id;
    return node;
}

// The chain of bucket b: unlinks and frees its node at position `at`.
void unlinkByHand(hashElemR* set, size_t b, int at) {
    std::unique_ptr<nodoHash>* link = &set->table[b];
    for (int i = 0; i < at; ++i) link = &(*link)->next;
    std::unique_ptr<nodoHash> gone = std::move(*link);
    *link = std::move(gone->next);
    --set->count;
}

TEST_F(HashTest, HandEditedChainsStaySafe) {
    const std::vector<HandEdit> edits = {
        {"node freed from the middle of a chain", [](hashElemR* s) { unlinkByHand(s, 0, 2); },
         false},
        {"head freed", [](hashElemR* s) { unlinkByHand(s, 0, 0); }, false},
        {"node linked at the head",
         [](hashElemR* s) {
             auto node = handNode("hand", "h", 99);
             node->next = std::move(s->table[0]);
             s->table[0] = std::move(node);
             ++s->count;
         },
         false},
        {"node freed and another linked in its place",
         [](hashElemR* s) {
             unlinkByHand(s, 0, 1);
             auto node = handNode("swap", "s", 98);
             node->next = std::move(s->table[0]->next);
             s->table[0]->next = std::move(node);
             ++s->count;
         },
         true},
        {"elements swapped between nodes",
         [](hashElemR* s) { std::swap(s->table[0]->elem, s->table[0]->next->next->elem); }, true},
        {"a stored key changed with setStr",
         [](hashElemR* s) { getSHashElem("k3", 0, s)->setStr(0, "edited"); }, false},
        {"a key twice in one chain",
         [](hashElemR* s) {
             auto node = handNode("k3", "twin", 97);
             node->next = std::move(s->table[0]);
             s->table[0] = std::move(node);
             ++s->count;
         },
         false},
    };
    for (const HandEdit& e : edits) {
        SCOPED_TRACE(e.name);
        if (set != nullptr) destroyHashE(set);
        make(1);
        for (int i = 0; i < 8; ++i) add("k" + std::to_string(i), "t");
        searchHashE(set, "k", iVector{0}, iVector{0});  // makes the search cache
        e.edit(set);
        if (e.rescan) rescanHashE(set);
        settleSearchHashE(set);
        // What a walk of the chain finds, before and after the operations.
        const auto walkKeys = [this] {
            std::vector<std::string> keys;
            for (const nodoHash* n = set->table[0].get(); n != nullptr; n = n->next.get())
                keys.push_back(n->elem->str(0));
            return keys;
        };
        const auto searched = [this] {
            auto sol = searchHashE(set, "", iVector{0, 1}, iVector{1});
            VectorLineList lines;
            std::optional<sVector> texts, keys;
            listSSol(sol.get(), lines, texts, keys);
            return keys.value_or(sVector{});
        };
        // All display texts are equal ("t ", or the hand tags), so ties list in walk order.
        std::vector<std::pair<std::string, std::string>> texts;  // display text, key
        for (const nodoHash* n = set->table[0].get(); n != nullptr; n = n->next.get()) {
            texts.emplace_back(n->elem->str(1) + " ", n->elem->str(0));
        }
        std::stable_sort(texts.begin(), texts.end(), [](const auto& a, const auto& b) {
            return compareSSolText(a.first, b.first) < 0;
        });
        sVector byText;
        for (const auto& t : texts) byText.push_back(t.second);
        EXPECT_EQ(searched(), byText);
        std::vector<std::string> walk = walkKeys();
        EXPECT_EQ(countHashE(set), static_cast<int32_t>(walk.size()));
        const std::string present = walk[walk.size() / 2];
        const std::string& head = walk.front();
        // A replacement of a present key replaces the first node holding it.
        const int32_t before = countHashE(set);
        add(present, "new");
        EXPECT_EQ(countHashE(set), before);
        EXPECT_EQ(chain(0).front().substr(0, present.size() + 4), present + "/new");
        EXPECT_EQ(tagOf(present), "new");
        delSHashE(present, 0, set);
        expectStatus("", ERR_OK);
        if (head != present) {
            EXPECT_NE(getSHashElem(head, 0, set), nullptr);
        }
        for (int i = 0; i < 8; ++i) add("n" + std::to_string(i), "t");
        // The tail (found through the index) and the head.
        for (const bool tail : {true, false}) {
            const std::vector<std::string> keys = walkKeys();
            delSHashE(tail ? keys.back() : keys.front(), 0, set);
            expectStatus("", ERR_OK);
            EXPECT_EQ(walkKeys().size(), keys.size() - 1);
        }
        walk = walkKeys();
        EXPECT_EQ(countHashE(set), static_cast<int32_t>(walk.size()));
        sVector sortedWalk = walk, found = searched();
        std::sort(sortedWalk.begin(), sortedWalk.end());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, sortedWalk);
    }
}

// Two threads, each with a set of its own: insertions, searches and edits
// through setStr, which counts every edit of an element in a set. Built with
// ThreadSanitizer (CONTAVIO_SANITIZE_THREAD), a race on that count shows.
TEST(HashThreadsTest, TwoThreadsEditAndSearchTwoSets) {
    const auto work = [](const std::string& prefix, std::vector<std::string>& seen) {
        hashElemR* own = newHashElem(31, 0, prefix, 0);
        setProtoHashE(own, recordProto());
        for (int i = 0; i < 300; ++i) addSHashE(makeElem(prefix + std::to_string(i), "old"), own);
        for (int round = 0; round < 200; ++round) {
            const std::string key = prefix + std::to_string(round);
            getSHashElem(key, 0, own)->setStr(1, "new" + std::to_string(round));
            auto sol = searchHashE(own, "new" + std::to_string(round), iVector{1}, iVector{0});
            VectorLineList lines;
            std::optional<sVector> texts, keys;
            listSSol(sol.get(), lines, texts, keys);
            seen.push_back(keys && keys->size() == 1 ? keys->front() : "<none>");
            getSHashElem(key, 0, own)->setStr(1, "old");
            delSHashE("missing", 0, own);  // each thread reads the outcome it caused
            seen.back() += hashErrCode == ERR_NOT_FOUND ? "" : " <status of another thread>";
        }
        destroyHashE(own);
    };
    std::vector<std::string> a, b;
    std::thread other([&] { work("b", b); });
    work("a", a);
    other.join();
    for (const auto& [prefix, seen] : {std::pair{"a", &a}, std::pair{"b", &b}}) {
        ASSERT_EQ(seen->size(), 200u);
        for (int round = 0; round < 200; ++round)
            EXPECT_EQ((*seen)[round], prefix + std::to_string(round));
    }
}

// A search whose hits have no key and no display text lists them all, as
// empty lines.
TEST_F(HashTest, HitsWithAnEmptyKeyAndNoDisplayFieldsAreListed) {
    make(5);
    add("", "x");
    const auto sol = searchHashE(set, "x", iVector{1}, iVector{});
    VectorLineList lines;
    std::optional<sVector> texts, keys;
    listSSol(sol.get(), lines, texts, keys);
    EXPECT_EQ(lines.lines, sVector{""});
    EXPECT_EQ(keys, sVector{""});
}

// An edit of an element in one set leaves another set's search cache as it
// is; the edited set's searches see the edit.
TEST_F(HashTest, AnEditInOneSetLeavesAnotherSetsSearchCache) {
    make(7);
    hashElemR* other = newHashElem(7, 0, "other", 0);
    for (const char* key : {"a", "b", "c"}) {
        add(key, "old");
        addSHashE(makeElem(key, "old"), other);
    }
    const auto found = [](hashElemR* in, const std::string& text) {
        VectorLineList lines;
        std::optional<sVector> texts, keys;
        listSSol(searchHashE(in, text, iVector{1}, iVector{0, 1}).get(), lines, texts, keys);
        return lines.lines;
    };
    ASSERT_EQ(found(set, "old").size(), 3u);
    ASSERT_EQ(found(other, "old").size(), 3u);
    // A change behind the cache's back (not through setStr) shows only in
    // a cache made anew.
    getSHashElem("a", 0, other)->strs[1] = "unseen";
    getSHashElem("b", 0, set)->setStr(1, "new");
    EXPECT_EQ(found(other, "unseen"), sVector{kNoMatchesLine}) << "made anew";
    EXPECT_EQ(found(set, "new"), sVector{"b new "});
    EXPECT_EQ(found(set, "old"), (sVector{"a old ", "c old "}));
    destroyHashE(other);
}

// The status pair is the calling thread's: an outcome on one thread leaves
// another's as it was.
TEST(HashThreadsTest, EachThreadHasItsOwnStatusPair) {
    hashElemR* none = nullptr;
    destroyHashE(none);
    hashElemR* set = newHashElem(3, 0, "set", 0);
    int32_t theirs = 0;
    std::thread([&] {
        delSHashE("missing", 0, set);
        theirs = hashErrCode;
    }).join();
    EXPECT_EQ(theirs, ERR_NOT_FOUND);
    EXPECT_EQ(hashErrCode, ERR_NO_SET);
    destroyHashE(set);
    EXPECT_EQ(hashErrCode, ERR_OK);
}

}  // namespace
// ---------------------------------------------------------------------------
// Differential test: random insertions, replacements, deletions and lookups
// against a plain model of the chains (front of a vector = head of a chain).
// It checks every chain, id, count, lastId, status and the search listing,
// so any shortcut the set takes for speed must leave all of them unchanged.

namespace {

struct ModelEntry {
    std::string key;
    std::string tag;
    int32_t id;
};

struct ChainModel {
    explicit ChainModel(int32_t size) : buckets(static_cast<size_t>(size)) {}

    std::vector<ModelEntry>& chainOf(const std::string& key) {
        return buckets[static_cast<size_t>(hashStr(key, static_cast<int32_t>(buckets.size())))];
    }

    void add(const std::string& key, const std::string& tag) {
        auto& c = chainOf(key);
        auto it =
            std::find_if(c.begin(), c.end(), [&](const ModelEntry& e) { return e.key == key; });
        int32_t id;
        if (it == c.end()) {
            id = ++count;
            lastId = id;
        } else {
            id = it->id;
            c.erase(it);
        }
        c.insert(c.begin(), ModelEntry{key, tag, id});
    }

    // Returns the status code the set must report.
    int32_t del(const std::string& key, bool byTag) {
        auto& c = chainOf(key);
        if (c.empty()) return ERR_NOT_FOUND;
        auto field = [&](const ModelEntry& e) { return byTag ? e.tag : e.key; };
        if (field(c[0]) == key) {
            c.erase(c.begin());
            --count;
            return ERR_OK;
        }
        auto it = std::find_if(c.begin() + 1, c.end(),
                               [&](const ModelEntry& e) { return field(e) == key; });
        if (it == c.end()) return ERR_NOT_FOUND;
        it->key = c[0].key;
        it->tag = c[0].tag;
        c.erase(c.begin());
        --count;
        return ERR_OK;
    }

    const ModelEntry* get(const std::string& key, bool byTag) {
        for (const ModelEntry& e : chainOf(key)) {
            if ((byTag ? e.tag : e.key) == key) return &e;
        }
        return nullptr;
    }

    std::vector<std::vector<ModelEntry>> buckets;
    int32_t count = 0;
    int32_t lastId = 1;
};

std::unique_ptr<TElem> keyTagElem(const std::string& key, const std::string& tag) {
    TprotoData p;
    p.setData(0, 2, 0);
    auto e = std::make_unique<TElem>();
    e->setProto(p);
    e->setStr(0, key);
    e->setStr(1, tag);
    return e;
}

}  // namespace

TEST(HashModelTest, RandomOperationsMatchThePlainChains) {
    std::mt19937 rng(20261207);
    for (int32_t size : {1, 2, 7, 64}) {
        hashElemR* set = newHashElem(size, 0, "m", 0);
        TprotoData p;
        p.setData(0, 2, 0);
        setProtoHashE(set, p);
        ChainModel model(size);
        auto randomKey = [&] {
            static const char* parts[] = {"a", "b", "A", "ab", "ba", "\xE1", "c", "zz"};
            std::string k;
            const int n = 1 + static_cast<int>(rng() % 3);
            for (int i = 0; i < n; ++i) k += parts[rng() % 8];
            return k;
        };
        for (int step = 0; step < 4000; ++step) {
            const std::string key = randomKey();
            const unsigned op = rng() % 10;
            if (op < 5) {
                const std::string tag = std::to_string(rng() % 5);
                addSHashE(keyTagElem(key, tag), set);
                model.add(key, tag);
            } else if (op < 8) {
                const bool byTag = op == 7;  // a field other than the key field
                const std::string target = byTag ? std::to_string(rng() % 5) : key;
                hashErrCode = 12345;
                delSHashE(target, byTag ? 1 : 0, set);
                ASSERT_EQ(hashErrCode, model.del(target, byTag)) << "step " << step;
            } else {
                const bool byTag = op == 9;
                const std::string target = byTag ? std::to_string(rng() % 5) : key;
                const ModelEntry* expected = model.get(target, byTag);
                TElem* got = getSHashElem(target, byTag ? 1 : 0, set);
                ASSERT_EQ(got == nullptr, expected == nullptr) << "step " << step;
                if (got) {
                    ASSERT_EQ(got->str(0), expected->key);
                    ASSERT_EQ(got->str(1), expected->tag);
                }
            }
            ASSERT_EQ(set->count, model.count);
            ASSERT_EQ(set->lastId, model.lastId);
            if (step % 97 == 0 || step == 3999) {
                for (int32_t b = 0; b < size; ++b) {
                    std::vector<std::string> chain, want;
                    for (nodoHash* n = set->table[static_cast<size_t>(b)].get(); n;
                         n = n->next.get())
                        chain.push_back(n->elem->str(0) + "/" + n->elem->str(1) + "#" +
                                        std::to_string(n->id));
                    for (const ModelEntry& e : model.buckets[static_cast<size_t>(b)])
                        want.push_back(e.key + "/" + e.tag + "#" + std::to_string(e.id));
                    ASSERT_EQ(chain, want) << "bucket " << b << " step " << step;
                }
                // The listing equals a walk of the model's chains, stably sorted.
                std::vector<std::pair<std::string, std::string>> walk;
                for (const auto& c : model.buckets)
                    for (const ModelEntry& e : c)
                        if (containsText(e.key, "a"))
                            walk.emplace_back(e.tag + " " + e.key + " ", e.key);
                std::stable_sort(walk.begin(), walk.end(), [](const auto& x, const auto& y) {
                    return compareSSolText(x.first, y.first) < 0;
                });
                auto sol = searchHashE(set, "a", iVector{0}, iVector{1, 0});
                VectorLineList lines;
                std::optional<sVector> texts, keys;
                listSSol(sol.get(), lines, texts, keys);
                std::vector<std::pair<std::string, std::string>> got;
                for (size_t i = 0; texts && i < texts->size(); ++i)
                    got.emplace_back((*texts)[i], (*keys)[i]);
                ASSERT_EQ(got, walk) << "step " << step;
            }
        }
        destroyHashE(set);
    }
}

}  // namespace contavio
