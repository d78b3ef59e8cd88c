#include "engine/Conjuntos.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/Constantes.h"
#include "engine/Platform.h"
#include "persistence/DataFiles.h"

namespace contavio {
namespace {

namespace fs = std::filesystem;

const iVector kNameFields = {1, 2, 3};

// The contact layout: 8 string fields (0 is the key) and 2 string lists.
TprotoData contactProto() {
    TprotoData proto;
    proto.setData(0, 8, 0);
    proto.setListData(0, 2, 0);
    return proto;
}

sVector contactFields(const std::string& first, const std::string& last,
                      const std::string& address = "Centro") {
    return {first + last, first, last, address, "www.x.org", "3", "Mayo", "notas"};
}

void addContact(TConjuntos& c, int32_t slot, const sVector& fields, const sVector& mails = {},
                const sVector& phones = {}) {
    c.newObj(contactProto());
    c.setObjData({}, fields, {});
    for (const auto& m : mails) c.addObjListItem(0, m);
    for (const auto& p : phones) c.addObjListItem(1, p);
    c.commitObj(slot, 0);
    c.releaseObj();
}

void newContactSet(TConjuntos& c, int32_t slot) {
    c.newSet(slot, 256, 0, "Contacto", 0);
    c.setSetProto(slot, contactProto());
}

void resetHashStatus(const std::string& msg = "previous", int32_t code = ERR_OK) {
    hashErrMsg = msg;
    hashErrCode = code;
}

class RecordingSink : public MessageSink {
  public:
    void show(const std::string& text) override { shown.push_back(text); }
    std::vector<std::string> shown;
};

// ---------------------------------------------------------------- slots

TEST(ConjuntosSlotsTest, NewCollectionHasEmptySlotsAndStatusOk) {
    TConjuntos c(3);
    EXPECT_EQ(c.nSets, 3);
    for (int32_t slot = 0; slot < 3; ++slot) {
        EXPECT_TRUE(c.isEmpty(slot)) << slot;
        EXPECT_EQ(c.resultCount(slot), 0) << slot;
    }
    EXPECT_EQ(c.errMsg, "");
    EXPECT_EQ(c.errCode, ERR_OK);
    EXPECT_EQ(c.obj, nullptr);
}

TEST(ConjuntosSlotsTest, NewSetFillsOnlyItsSlotWithTheGivenSet) {
    TConjuntos c(3);
    c.newSet(0, 256, 7, "Contacto", 2);
    EXPECT_FALSE(c.isEmpty(0));
    EXPECT_TRUE(c.isEmpty(1));
    EXPECT_TRUE(c.isEmpty(2));
    const hashElemR* set = c.sets[0];
    EXPECT_EQ(set->size, 256);
    EXPECT_EQ(set->data, 7);
    EXPECT_EQ(set->name, "Contacto");
    EXPECT_EQ(set->keyField, 2);
    EXPECT_EQ(set->count, 0);
}

TEST(ConjuntosSlotsTest, NewSetWithoutBucketsLeavesSlotEmptyAndReportsBadSize) {
    TConjuntos c(2);
    resetHashStatus();
    c.newSet(0, 0, 0, "Contacto", 0);
    EXPECT_TRUE(c.isEmpty(0));
    EXPECT_EQ(hashErrCode, ERR_BAD_SIZE);
    EXPECT_NE(hashErrMsg, "previous");

    resetHashStatus();
    c.newSet(1, -5, 0, "Contacto", 0);
    EXPECT_TRUE(c.isEmpty(1));
    EXPECT_EQ(hashErrCode, ERR_BAD_SIZE);
}

TEST(ConjuntosSlotsTest, NewSetOnAnOccupiedSlotKeepsTheSetItHolds) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    hashElemR* before = c.sets[0];

    c.newSet(0, 3, 9, "Otro", 1);
    ASSERT_EQ(c.sets[0], before);
    EXPECT_EQ(c.sets[0]->size, 256);
    EXPECT_EQ(c.sets[0]->name, "Contacto");
    EXPECT_EQ(c.sets[0]->count, 1);
}

TEST(ConjuntosSlotsTest, SetSetProtoGivesTheSetItsOwnCopy) {
    TConjuntos c(1);
    c.newSet(0, 16, 0, "S", 0);
    TprotoData proto;
    proto.setData(1, 2, 3);
    proto.setListData(4, 5, 6);
    c.setSetProto(0, proto);
    proto.setData(9, 9, 9);
    ASSERT_NE(c.sets[0]->proto, nullptr);
    const TprotoData& kept = *c.sets[0]->proto;
    EXPECT_EQ(kept.nInt, 1);
    EXPECT_EQ(kept.nStr, 2);
    EXPECT_EQ(kept.nFloat, 3);
    EXPECT_EQ(kept.nIntList, 4);
    EXPECT_EQ(kept.nStrList, 5);
    EXPECT_EQ(kept.nFloatList, 6);
}

TEST(ConjuntosSlotsTest, DelObjDeletesByTheSetsKeyFieldAndReportsOk) {
    // Keyed by string field 1, so the deletion must compare field 1.
    TConjuntos c(1);
    c.newSet(0, 8, 0, "S", 1);
    TprotoData proto;
    proto.setData(0, 2, 0);
    c.setSetProto(0, proto);
    for (const char* key : {"uno", "dos"}) {
        c.newObj(proto);
        c.setObjData({}, {"same", key}, {});
        c.commitObj(0, 0);
        c.releaseObj();
    }
    ASSERT_EQ(c.sets[0]->count, 2);

    resetHashStatus("stale", ERR_NOT_FOUND);
    c.delObj(0, "uno");
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(hashErrCode, ERR_OK);
    EXPECT_EQ(hashErrMsg, "");
    sVector strs;
    iVector ints;
    fVector floats;
    EXPECT_TRUE(c.sObjInfo("dos", 1, 0, ints, strs, floats));
    EXPECT_FALSE(c.sObjInfo("uno", 1, 0, ints, strs, floats));
}

TEST(ConjuntosSlotsTest, DelObjOfAMissingKeyLeavesSetAndReportsNotFound) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    resetHashStatus();
    c.delObj(0, "Nadie");
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);
    EXPECT_EQ(hashErrMsg,
              "WARNING @ delSHashE (hashE): Elemento solicitado para borrar no encontrado (Nadie)");
    // The collection's own pair is for lookups only.
    EXPECT_EQ(c.errCode, ERR_OK);
    EXPECT_EQ(c.errMsg, "");
}

TEST(ConjuntosSlotsTest, OperationsOnAnEmptySlotDoNothing) {
    TConjuntos c(2);
    newContactSet(c, 0);
    resetHashStatus("untouched", ERR_NOT_FOUND);

    c.setSetProto(1, contactProto());
    c.delObj(1, "AnaLopez");
    c.search(1, "", kNameFields, kNameFields);
    EXPECT_TRUE(c.isEmpty(1));
    EXPECT_EQ(c.resultCount(1), 0);
    EXPECT_EQ(hashErrMsg, "untouched");
    EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);

    // A staging element committed into an empty slot stays held.
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    TElem* held = c.obj;
    c.commitObj(1, 0);
    EXPECT_EQ(c.obj, held);
    c.commitObj(0, 0);
    EXPECT_EQ(c.sets[0]->count, 1);
    c.releaseObj();

    iVector ints = {5};
    sVector strs = {"pre"};
    fVector floats = {1.5f};
    EXPECT_FALSE(c.sObjInfo("AnaLopez", 0, 1, ints, strs, floats));
    iVector counts = {4};
    sMatrix lists = {{"pre"}};
    EXPECT_FALSE(c.sObjLists("AnaLopez", 0, 1, counts, lists));
    EXPECT_EQ(ints, iVector{5});
    EXPECT_EQ(strs, sVector{"pre"});
    EXPECT_EQ(counts, iVector{4});
    EXPECT_EQ(lists, sMatrix{{"pre"}});
    EXPECT_EQ(c.errMsg, "");
    EXPECT_EQ(c.errCode, ERR_OK);
}

TEST(ConjuntosSlotsTest, SlotNumbersOutsideTheCollectionAreIgnored) {
    TConjuntos c(2);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    c.search(0, "ana", kNameFields, kNameFields);
    resetHashStatus("untouched", ERR_OK);

    for (int32_t slot : {-1, 2, 100}) {
        EXPECT_TRUE(c.isEmpty(slot));
        c.newSet(slot, 4, 0, "S", 0);
        EXPECT_TRUE(c.isEmpty(slot));
        c.setSetProto(slot, contactProto());
        c.delObj(slot, "AnaLopez");
        c.search(slot, "", kNameFields, kNameFields);
        EXPECT_EQ(c.resultCount(slot), 0);
        VectorLineList lines;
        lines.add("old");
        std::optional<sVector> texts = sVector{"t"};
        std::optional<sVector> keys;
        c.listResults(slot, lines, texts, keys);
        EXPECT_EQ(lines.lines, std::vector<std::string>{"old"});
        EXPECT_EQ(texts, sVector{"t"});
        EXPECT_FALSE(keys.has_value());
        iVector ints;
        sVector strs;
        fVector floats;
        EXPECT_FALSE(c.sObjInfo("AnaLopez", 0, slot, ints, strs, floats));
        c.newObj(contactProto());
        c.commitObj(slot, 0);
        EXPECT_NE(c.obj, nullptr);
        c.releaseObj();
    }
    EXPECT_EQ(hashErrMsg, "untouched");
    EXPECT_EQ(c.errCode, ERR_OK);
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(c.resultCount(0), 1);
    EXPECT_TRUE(c.isEmpty(1));
}

TEST(ConjuntosSlotsTest, NegativeSlotCountMakesACollectionWithoutSlots) {
    TConjuntos c(-3);
    EXPECT_EQ(c.nSets, 0);
    EXPECT_TRUE(c.sets.empty());
    EXPECT_TRUE(c.isEmpty(0));
    c.newSet(0, 4, 0, "S", 0);
    EXPECT_TRUE(c.isEmpty(0));
}

// ------------------------------------------------------ staging element

TEST(ConjuntosStagingTest, NewObjHoldsAnElementShapedAfterTheSchema) {
    TConjuntos c(1);
    c.newObj(contactProto());
    ASSERT_NE(c.obj, nullptr);
    EXPECT_EQ(c.obj->nStr, 8);
    EXPECT_EQ(c.obj->strs, sVector(8, ""));
    EXPECT_EQ(c.obj->nStrList, 2);
    EXPECT_EQ(c.obj->strLists.size(), 2u);
    EXPECT_EQ(c.obj->nInt, 0);
}

TEST(ConjuntosStagingTest, SetObjDataCopiesAsManyEntriesAsTheElementHasFields) {
    TConjuntos c(1);
    TprotoData proto;
    proto.setData(2, 3, 1);
    c.newObj(proto);
    c.setObjData({10, -20, 30},
                 {"a", std::string("b\0c", 3),
                  "\xF1"
                  "and\xFA",
                  "extra"},
                 {2.5f, 9.0f});
    EXPECT_EQ(c.obj->ints, (iVector{10, -20}));
    EXPECT_EQ(c.obj->strs, (sVector{"a", "b",
                                    "\xF1"
                                    "and\xFA"}));
    EXPECT_EQ(c.obj->floats, fVector{2.5f});
}

TEST(ConjuntosStagingTest, SetObjDataWithShortArraysFillsOnlyTheEntriesGiven) {
    TConjuntos c(1);
    TprotoData proto;
    proto.setData(2, 3, 1);
    c.newObj(proto);
    c.setObjData({4}, {"x"}, {});
    EXPECT_EQ(c.obj->ints, (iVector{4, 0}));
    EXPECT_EQ(c.obj->strs, (sVector{"x", "", ""}));
    EXPECT_EQ(c.obj->floats, fVector{0.0f});
}

TEST(ConjuntosStagingTest, AddObjListItemPushesOntoTheChosenList) {
    TConjuntos c(1);
    c.newObj(contactProto());
    c.addObjListItem(1, "111");
    c.addObjListItem(1, "222");
    c.addObjListItem(0, "a@b.c");
    int32_t count = -1;
    sVector values;
    c.obj->getStrList(1, count, values);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(values, (sVector{"222", "111"}));
    c.obj->getStrList(0, count, values);
    EXPECT_EQ(values, sVector{"a@b.c"});
}

TEST(ConjuntosStagingTest, FillingWithoutAStagingElementDoesNothing) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    c.addObjListItem(0, "x");
    c.commitObj(0, 0);
    EXPECT_EQ(c.obj, nullptr);
    EXPECT_EQ(c.sets[0]->count, 0);
}

TEST(ConjuntosStagingTest, CommitModeZeroInsertsByStringKeyAndKeepsTheReference) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    TElem* staged = c.obj;
    c.commitObj(0, 0);
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(c.obj, staged);
    EXPECT_EQ(getSHashElem("AnaLopez", 0, c.sets[0]), staged);
    c.releaseObj();
    EXPECT_EQ(c.obj, nullptr);
    // releaseObj frees nothing the set owns.
    ASSERT_EQ(getSHashElem("AnaLopez", 0, c.sets[0]), staged);
    EXPECT_EQ(staged->strs[1], "Ana");
}

TEST(ConjuntosStagingTest, CommitModeOneInsertsByIntegerKey) {
    TConjuntos c(1);
    c.newSet(0, 5, 0, "Nums", 0);
    TprotoData proto;
    proto.setData(1, 1, 0);
    c.setSetProto(0, proto);

    // Integer key 7 goes to bucket 2; the string "b" would go to bucket 3.
    c.newObj(proto);
    c.setObjData({7}, {"b"}, {});
    TElem* first = c.obj;
    c.commitObj(0, 1);
    c.releaseObj();
    ASSERT_EQ(c.sets[0]->count, 1);
    ASSERT_NE(c.sets[0]->table[2], nullptr);
    EXPECT_EQ(c.sets[0]->table[2]->elem.get(), first);
    EXPECT_EQ(c.sets[0]->table[3], nullptr);

    // Same integer, other string: replaces rather than adds.
    c.newObj(proto);
    c.setObjData({7}, {"c"}, {});
    c.commitObj(0, 1);
    c.releaseObj();
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(c.sets[0]->table[2]->elem->strs[0], "c");
}

TEST(ConjuntosStagingTest, CommitWithAnotherModeLeavesTheElementHeldAndUncommitted) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    TElem* staged = c.obj;
    for (int32_t mode : {2, -1, 100}) {
        c.commitObj(0, mode);
        EXPECT_EQ(c.sets[0]->count, 0) << mode;
        EXPECT_EQ(c.obj, staged) << mode;
    }
    // Still uncommitted: it can still be filled and committed.
    c.addObjListItem(0, "a@b.c");
    c.commitObj(0, 0);
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(getSHashElem("AnaLopez", 0, c.sets[0]), staged);
    c.releaseObj();
}

TEST(ConjuntosStagingTest, DestructionFreesAnUncommittedElement) {
    // The leak check of the sanitizer build proves the freeing.
    resetHashStatus();
    {
        TConjuntos c(1);
        newContactSet(c, 0);
        c.newObj(contactProto());
        c.setObjData({}, contactFields("Ana", "Lopez"), {});
        c.addObjListItem(0, "a@b.c");
        c.commitObj(0, 2);
        ASSERT_NE(c.obj, nullptr);
        ASSERT_EQ(c.sets[0]->count, 0);
    }
    EXPECT_EQ(hashErrCode, ERR_OK);  // the filled slot was destroyed
}

TEST(ConjuntosStagingTest, CommittingTwiceWithoutNewObjInsertsOnce) {
    TConjuntos c(2);
    newContactSet(c, 0);
    newContactSet(c, 1);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    TElem* staged = c.obj;
    c.commitObj(0, 0);
    c.commitObj(0, 0);
    c.commitObj(1, 0);
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(c.sets[1]->count, 0);
    ASSERT_EQ(getSHashElem("AnaLopez", 0, c.sets[0]), staged);
    EXPECT_EQ(staged->strs[2], "Lopez");
    c.releaseObj();
}

TEST(ConjuntosStagingTest, ACommittedElementIsNotChangedThroughTheCollection) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    c.commitObj(0, 0);
    // Not released yet: the element is the set's, so these must not reach it.
    c.setObjData({}, contactFields("Bea", "Ruiz"), {});
    c.addObjListItem(0, "x@y.z");
    TElem* stored = getSHashElem("AnaLopez", 0, c.sets[0]);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->strs[0], "AnaLopez");
    EXPECT_EQ(countStrList(stored->strLists[0]), 0);
    c.releaseObj();
}

TEST(ConjuntosStagingTest, NewObjWhileHoldingAnUncommittedElementReplacesIt) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    c.addObjListItem(0, "old@x.y");
    TprotoData small;
    small.setData(0, 1, 0);
    c.newObj(small);
    ASSERT_NE(c.obj, nullptr);
    EXPECT_EQ(c.obj->nStr, 1);
    EXPECT_EQ(c.obj->strs, sVector{""});
    EXPECT_EQ(c.obj->nStrList, 0);
    c.setObjData({}, {"Solo"}, {});
    c.commitObj(0, 0);
    c.releaseObj();
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_NE(getSHashElem("Solo", 0, c.sets[0]), nullptr);
}

TEST(ConjuntosStagingTest, NewObjAfterACommitLeavesTheStoredElementAlone) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    c.commitObj(0, 0);
    c.newObj(contactProto());  // no releaseObj in between
    c.setObjData({}, contactFields("Bea", "Ruiz"), {});
    c.commitObj(0, 0);
    c.releaseObj();
    EXPECT_EQ(c.sets[0]->count, 2);
    TElem* ana = getSHashElem("AnaLopez", 0, c.sets[0]);
    ASSERT_NE(ana, nullptr);
    EXPECT_EQ(ana->strs[1], "Ana");
}

TEST(ConjuntosStagingTest, ReleaseObjDiscardsAnUncommittedElement) {
    TConjuntos c(1);
    newContactSet(c, 0);
    c.newObj(contactProto());
    c.setObjData({}, contactFields("Ana", "Lopez"), {});
    c.releaseObj();
    EXPECT_EQ(c.obj, nullptr);
    c.commitObj(0, 0);
    EXPECT_EQ(c.sets[0]->count, 0);
}

// ------------------------------------------------ replacing and searching

TEST(ConjuntosSearchTest, CommittingAnExistingKeyReplacesTheElement) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez", "Centro"), {"old@x.y"});
    addContact(c, 0, contactFields("Bea", "Ruiz", "Norte"));
    addContact(c, 0, contactFields("Ana", "Lopez", "Sur"), {"new@x.y"});
    EXPECT_EQ(c.sets[0]->count, 2);

    c.search(0, "lopez", kNameFields, kNameFields);
    EXPECT_EQ(c.resultCount(0), 1);
    VectorLineList lines;
    std::optional<sVector> texts, keys;
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(lines.lines, std::vector<std::string>{"Ana Lopez Sur "});
    EXPECT_EQ(keys, sVector{"AnaLopez"});

    iVector counts;
    sMatrix lists;
    ASSERT_TRUE(c.sObjLists("AnaLopez", 0, 0, counts, lists));
    EXPECT_EQ(lists[0], sVector{"new@x.y"});
}

TEST(ConjuntosSearchTest, ASecondSearchReplacesTheResults) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    addContact(c, 0, contactFields("Mariana", "Diaz"));
    addContact(c, 0, contactFields("Bea", "Ruiz"));

    c.search(0, "ANA", kNameFields, kNameFields);
    EXPECT_EQ(c.resultCount(0), 2);
    c.search(0, "ruiz", kNameFields, kNameFields);
    EXPECT_EQ(c.resultCount(0), 1);

    VectorLineList lines;
    lines.add("stale line");
    std::optional<sVector> texts = sVector{"stale"};
    std::optional<sVector> keys;
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(lines.lines, std::vector<std::string>{"Bea Ruiz Centro "});
    EXPECT_EQ(texts, sVector{"Bea Ruiz Centro "});
    EXPECT_EQ(keys, sVector{"BeaRuiz"});
}

TEST(ConjuntosSearchTest, ResultsAreListedInTextOrderWithTheirKeys) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Zoe", "Paz"));
    addContact(c, 0, contactFields("ana", "Mora"));
    addContact(c, 0, contactFields("Bruno", "Gil"));
    c.search(0, "", kNameFields, {1});
    EXPECT_EQ(c.resultCount(0), 3);
    VectorLineList lines;
    std::optional<sVector> texts, keys;
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(lines.lines, (std::vector<std::string>{"ana ", "Bruno ", "Zoe "}));
    EXPECT_EQ(keys, (sVector{"anaMora", "BrunoGil", "ZoePaz"}));
}

TEST(ConjuntosSearchTest, ASearchWithoutMatchesListsTheNoMatchLine) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    c.search(0, "zzz", kNameFields, kNameFields);
    EXPECT_EQ(c.resultCount(0), 0);
    VectorLineList lines;
    std::optional<sVector> texts = sVector{"t"};
    std::optional<sVector> keys = sVector{"k"};
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(lines.lines, std::vector<std::string>{kNoMatchesLine});
    EXPECT_FALSE(texts.has_value());
    EXPECT_FALSE(keys.has_value());
}

TEST(ConjuntosSearchTest, WithoutASearchListResultsLeavesItsOutputsAlone) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    VectorLineList lines;
    lines.add("old");
    std::optional<sVector> texts = sVector{"t"};
    std::optional<sVector> keys = sVector{"k"};
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(lines.lines, std::vector<std::string>{"old"});
    EXPECT_EQ(texts, sVector{"t"});
    EXPECT_EQ(keys, sVector{"k"});
    EXPECT_EQ(c.resultCount(0), 0);
}

TEST(ConjuntosSearchTest, ResultsAreASnapshotUntilTheNextSearch) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    c.search(0, "", kNameFields, kNameFields);
    addContact(c, 0, contactFields("Bea", "Ruiz"));
    c.delObj(0, "AnaLopez");
    EXPECT_EQ(c.resultCount(0), 1);
    VectorLineList lines;
    std::optional<sVector> texts, keys;
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(keys, sVector{"AnaLopez"});
    c.search(0, "", kNameFields, kNameFields);
    c.listResults(0, lines, texts, keys);
    EXPECT_EQ(keys, sVector{"BeaRuiz"});
}

TEST(ConjuntosSearchTest, EachSlotKeepsItsOwnResults) {
    TConjuntos c(2);
    newContactSet(c, 0);
    newContactSet(c, 1);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    addContact(c, 1, contactFields("Bea", "Ruiz"));
    addContact(c, 1, contactFields("Bruno", "Gil"));
    c.search(0, "", kNameFields, kNameFields);
    c.search(1, "", kNameFields, kNameFields);
    EXPECT_EQ(c.resultCount(0), 1);
    EXPECT_EQ(c.resultCount(1), 2);
}

// ------------------------------------------------------------- lookups

TEST(ConjuntosLookupTest, SObjInfoHandsBackCopiesOfTheFields) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    iVector ints = {1};
    sVector strs;
    fVector floats = {1.0f};
    ASSERT_TRUE(c.sObjInfo("AnaLopez", 0, 0, ints, strs, floats));
    EXPECT_TRUE(ints.empty());
    EXPECT_EQ(strs, contactFields("Ana", "Lopez"));
    EXPECT_TRUE(floats.empty());
    strs[1] = "changed";
    sVector again;
    ASSERT_TRUE(c.sObjInfo("AnaLopez", 0, 0, ints, again, floats));
    EXPECT_EQ(again[1], "Ana");
    EXPECT_EQ(c.errMsg, "");
    EXPECT_EQ(c.errCode, ERR_OK);
}

TEST(ConjuntosLookupTest, SObjInfoOfAMissingKeyReportsKeyAndSlotAndLeavesOutputs) {
    TConjuntos c(3);
    newContactSet(c, 2);
    addContact(c, 2, contactFields("Ana", "Lopez"));
    iVector ints = {3};
    sVector strs = {"pre"};
    fVector floats = {0.5f};
    EXPECT_FALSE(c.sObjInfo("Nadie", 0, 2, ints, strs, floats));
    EXPECT_EQ(c.errMsg,
              "Elemento Nadie no encontrado en conjunto 2 @ TConjuntos.sObjInfo (Conjuntos)");
    EXPECT_EQ(c.errCode, ERR_NOT_FOUND);
    EXPECT_EQ(ints, iVector{3});
    EXPECT_EQ(strs, sVector{"pre"});
    EXPECT_EQ(floats, fVector{0.5f});
}

TEST(ConjuntosLookupTest, AMissingKeyInAnOccupiedBucketIsReportedToo) {
    // "ab" and "ba" share a bucket, so the set's own status stays silent.
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("a", "b"));
    resetHashStatus();
    iVector ints;
    sVector strs = {"pre"};
    fVector floats;
    EXPECT_FALSE(c.sObjInfo("ba", 0, 0, ints, strs, floats));
    EXPECT_EQ(strs, sVector{"pre"});
    EXPECT_EQ(c.errCode, ERR_NOT_FOUND);
    EXPECT_EQ(c.errMsg,
              "Elemento ba no encontrado en conjunto 0 @ TConjuntos.sObjInfo (Conjuntos)");
}

TEST(ConjuntosLookupTest, ALaterSuccessfulLookupKeepsTheFailure) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    iVector ints;
    sVector strs;
    fVector floats;
    ASSERT_FALSE(c.sObjInfo("Nadie", 0, 0, ints, strs, floats));
    const std::string failure = c.errMsg;
    ASSERT_TRUE(c.sObjInfo("AnaLopez", 0, 0, ints, strs, floats));
    EXPECT_EQ(strs[2], "Lopez");
    iVector counts;
    sMatrix lists;
    ASSERT_TRUE(c.sObjLists("AnaLopez", 0, 0, counts, lists));
    EXPECT_EQ(c.errCode, ERR_NOT_FOUND);
    EXPECT_EQ(c.errMsg, failure);
}

TEST(ConjuntosLookupTest, SObjListsHandsBackEveryListNewestFirst) {
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Ana", "Lopez"), {"a@x.y"}, {"x", "y", "z"});
    iVector counts;
    sMatrix lists;
    ASSERT_TRUE(c.sObjLists("AnaLopez", 0, 0, counts, lists));
    EXPECT_EQ(counts, (iVector{1, 3}));
    EXPECT_EQ(lists, (sMatrix{{"a@x.y"}, {"z", "y", "x"}}));
}

TEST(ConjuntosLookupTest, SObjListsOfAMissingKeyNamesTheSlotInDecimal) {
    TConjuntos c(12);
    newContactSet(c, 10);
    addContact(c, 10, contactFields("Ana", "Lopez"));
    iVector counts = {7};
    sMatrix lists = {{"pre"}};
    EXPECT_FALSE(c.sObjLists("Bea", 0, 10, counts, lists));
    EXPECT_EQ(c.errMsg,
              "Elemento Bea no encontrado en conjunto 10 @ TConjuntos.sObjInfo (Conjuntos)");
    EXPECT_EQ(c.errCode, ERR_NOT_FOUND);
    EXPECT_EQ(counts, iVector{7});
    EXPECT_EQ(lists, sMatrix{{"pre"}});
}

TEST(ConjuntosLookupTest, SObjListsOfAnElementWithoutListsKeepsTheOutputs) {
    TConjuntos c(1);
    c.newSet(0, 4, 0, "S", 0);
    TprotoData proto;
    proto.setData(0, 1, 0);
    c.setSetProto(0, proto);
    c.newObj(proto);
    c.setObjData({}, {"k"}, {});
    c.commitObj(0, 0);
    c.releaseObj();
    iVector counts = {7};
    sMatrix lists = {{"pre"}};
    EXPECT_TRUE(c.sObjLists("k", 0, 0, counts, lists));
    EXPECT_EQ(counts, iVector{7});
    EXPECT_EQ(lists, sMatrix{{"pre"}});
}

// ---------------------------------------------------------- destruction

TEST(ConjuntosDestructionTest, AnEmptyOnlySlotLeavesNoSetInTheStatus) {
    resetHashStatus();
    { TConjuntos c(1); }
    EXPECT_EQ(hashErrCode, ERR_NO_SET);
    EXPECT_EQ(hashErrMsg, "ERROR @ destroyHashE (hashE): Conjunto vac\xEDo! (Hash = nil).");
}

TEST(ConjuntosDestructionTest, SlotsAreDestroyedFromTheFirstToTheLast) {
    resetHashStatus();
    {
        TConjuntos c(2);
        newContactSet(c, 0);
        addContact(c, 0, contactFields("Ana", "Lopez"));
    }
    EXPECT_EQ(hashErrCode, ERR_NO_SET);  // slot 1, empty, came last

    resetHashStatus("previous", ERR_NOT_FOUND);
    {
        TConjuntos c(2);
        newContactSet(c, 1);
        addContact(c, 1, contactFields("Ana", "Lopez"), {"a@x.y"});
        c.search(1, "", kNameFields, kNameFields);
        c.newObj(contactProto());  // held, never committed
    }
    EXPECT_EQ(hashErrCode, ERR_OK);  // slot 1, filled, came last
    EXPECT_EQ(hashErrMsg, "");
}

// A collection that outlives the status pair of its thread: kept per thread
// until the thread ends, or kept in a global until the program ends (as the
// window keeps its book). Its destruction must end cleanly either way.
TEST(ConjuntosDestructionTest, ACollectionOutlivingItsThreadsStatusEndsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The collection is made before the status pair is first written.
    const auto hold = [](TConjuntos& kept) {
        newContactSet(kept, 0);
        addContact(kept, 0, contactFields("Ana", "Lopez"));
        kept.delObj(0, "a key that is not there, in a message longer than a short string");
    };
    const std::vector<std::pair<const char*, std::function<void()>>> ends = {
        {"thread",
         [&] {
             std::thread([&] {
                 thread_local TConjuntos kept(2);
                 hold(kept);
             }).join();
         }},
        {"program",
         [&] {
             static TConjuntos kept(2);
             hold(kept);
         }},
    };
    for (const auto& [name, end] : ends) {
        SCOPED_TRACE(name);
        EXPECT_EXIT((end(), std::exit(0)), ::testing::ExitedWithCode(0), "");
    }
}

// --------------------------------------------------------------- files

class ConjuntosFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "conjuntos_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        setMessageSink(&sink_);
        setDecimalSeparator('.');
    }
    void TearDown() override {
        setMessageSink(nullptr);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string readAll(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void writeAll(const std::string& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }

    fs::path dir_;
    RecordingSink sink_;
};

TEST_F(ConjuntosFilesTest, SaveCryptThenLoadCryptGivesTheSetBack) {
    const std::string file = path("data.vlt");
    {
        TConjuntos c(2);
        c.newSet(1, 256, 4, "Contacto", 0);
        c.setSetProto(1, contactProto());
        addContact(c, 1,
                   {"Nu\xF1"
                    "ezPe\xF1"
                    "a",
                    "Nu\xF1"
                    "ez",
                    "Pe\xF1"
                    "a",
                    "", "web",
                    "D\xED"
                    "a",
                    "Mes", "notas largas"},
                   {"m1@x.y", "m2@x.y"}, {"111"});
        addContact(c, 1, contactFields("Bea", "Ruiz"));
        c.saveCrypt(file, 1, 853);
    }
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(readAll(file).find("Contacto"), std::string::npos);  // enciphered

    TConjuntos c(2);
    resetHashStatus("stale", ERR_NOT_FOUND);
    c.loadCrypt(file, 0, 853);
    ASSERT_FALSE(c.isEmpty(0));
    EXPECT_TRUE(sink_.shown.empty());
    EXPECT_EQ(hashErrCode, ERR_OK);
    const hashElemR* set = c.sets[0];
    EXPECT_EQ(set->count, 2);
    EXPECT_EQ(set->size, 5);
    EXPECT_EQ(set->name, "Contacto");
    EXPECT_EQ(set->data, 4);
    EXPECT_EQ(set->keyField, 0);
    ASSERT_NE(set->proto, nullptr);
    EXPECT_EQ(set->proto->nStr, 8);
    EXPECT_EQ(set->proto->nStrList, 2);

    iVector ints;
    sVector strs;
    fVector floats;
    ASSERT_TRUE(
        c.sObjInfo("Nu\xF1"
                   "ezPe\xF1"
                   "a",
                   0, 0, ints, strs, floats));
    EXPECT_EQ(strs, (sVector{"Nu\xF1"
                             "ezPe\xF1"
                             "a",
                             "Nu\xF1"
                             "ez",
                             "Pe\xF1"
                             "a",
                             "", "web",
                             "D\xED"
                             "a",
                             "Mes", "notas largas"}));
    iVector counts;
    sMatrix lists;
    ASSERT_TRUE(
        c.sObjLists("Nu\xF1"
                    "ezPe\xF1"
                    "a",
                    0, 0, counts, lists));
    // The file keeps lists head first and reading pushes, so they come back reversed.
    EXPECT_EQ(counts, (iVector{2, 1}));
    EXPECT_EQ(lists, (sMatrix{{"m1@x.y", "m2@x.y"}, {"111"}}));
    ASSERT_TRUE(c.sObjInfo("BeaRuiz", 0, 0, ints, strs, floats));
    EXPECT_EQ(strs, contactFields("Bea", "Ruiz"));
}

TEST_F(ConjuntosFilesTest, SaveCryptWritesWhatTheFileWriterWritesForThatSlotAndKey) {
    TConjuntos c(2);
    newContactSet(c, 0);
    newContactSet(c, 1);
    addContact(c, 0, contactFields("Ana", "Lopez"));
    addContact(c, 1, contactFields("Bea", "Ruiz"), {"b@x.y"});
    c.saveCrypt(path("mine.vlt"), 1, 900);
    saveCryptHashE(path("direct.vlt"), c.sets[1], 900);
    saveCryptHashE(path("other_key.vlt"), c.sets[1], 853);
    EXPECT_EQ(readAll(path("mine.vlt")), readAll(path("direct.vlt")));
    EXPECT_NE(readAll(path("mine.vlt")), readAll(path("other_key.vlt")));
}

TEST_F(ConjuntosFilesTest, SaveCryptWithoutASetWithItsSchemaWritesNothing) {
    TConjuntos c(2);
    c.newSet(1, 4, 0, "S", 0);  // no schema
    c.saveCrypt(path("empty.vlt"), 0, 853);
    c.saveCrypt(path("noproto.vlt"), 1, 853);
    c.saveCrypt(path("outside.vlt"), 5, 853);
    EXPECT_FALSE(fs::exists(path("empty.vlt")));
    EXPECT_FALSE(fs::exists(path("noproto.vlt")));
    EXPECT_FALSE(fs::exists(path("outside.vlt")));
}

TEST_F(ConjuntosFilesTest, LoadTextReadsAPlainContactFile) {
    const std::string file = path("contact.txt");
    writeAll(file,
             "1\r\n0\r\nContacto\r\n0\r\n8\r\n0\r\n0\r\n2\r\n0\r\n0\r\n\r\n"
             "AnaL\xF3pez\r\nAna\r\nL\xF3pez\r\nCentro\r\nn/a\r\n3\r\nMayo\r\nnotas\r\n"
             "2\r\np1\r\np2\r\n1\r\nm1\r\n\r\n");
    TConjuntos c(1);
    resetHashStatus("stale", ERR_NOT_FOUND);
    c.loadText(file, 0);
    ASSERT_FALSE(c.isEmpty(0));
    EXPECT_EQ(hashErrCode, ERR_OK);
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(c.sets[0]->size, 3);
    iVector ints;
    sVector strs;
    fVector floats;
    ASSERT_TRUE(c.sObjInfo("AnaL\xF3pez", 0, 0, ints, strs, floats));
    EXPECT_EQ(strs,
              (sVector{"AnaL\xF3pez", "Ana", "L\xF3pez", "Centro", "n/a", "3", "Mayo", "notas"}));
    iVector counts;
    sMatrix lists;
    ASSERT_TRUE(c.sObjLists("AnaL\xF3pez", 0, 0, counts, lists));
    EXPECT_EQ(counts, (iVector{2, 1}));
    EXPECT_EQ(lists, (sMatrix{{"p2", "p1"}, {"m1"}}));

    c.search(0, "l\xF3p", kNameFields, kNameFields);
    EXPECT_EQ(c.resultCount(0), 1);
}

TEST_F(ConjuntosFilesTest, AMissingFileShowsItsNameAndLeavesTheSlotEmpty) {
    TConjuntos c(1);
    resetHashStatus("kept", ERR_NOT_FOUND);
    c.loadCrypt(path("none.vlt"), 0, 853);
    c.loadText(path("none.txt"), 0);
    EXPECT_TRUE(c.isEmpty(0));
    EXPECT_EQ(sink_.shown, (std::vector<std::string>{"No se pudo abrir: " + path("none.vlt"),
                                                     "No se pudo abrir: " + path("none.txt")}));
    EXPECT_EQ(hashErrMsg, "kept");
    EXPECT_EQ(hashErrCode, ERR_NOT_FOUND);
}

TEST_F(ConjuntosFilesTest, LoadingIntoAnOccupiedSlotKeepsTheSetAndReadsNothing) {
    const std::string file = path("data.vlt");
    {
        TConjuntos other(1);
        newContactSet(other, 0);
        addContact(other, 0, contactFields("Bea", "Ruiz"));
        addContact(other, 0, contactFields("Ana", "Lopez"));
        other.saveCrypt(file, 0, 853);
    }
    TConjuntos c(1);
    newContactSet(c, 0);
    addContact(c, 0, contactFields("Zoe", "Paz"));
    hashElemR* before = c.sets[0];
    c.loadCrypt(file, 0, 853);
    c.loadCrypt(path("none.vlt"), 0, 853);
    c.loadText(path("none.txt"), 0);
    ASSERT_EQ(c.sets[0], before);
    EXPECT_EQ(c.sets[0]->count, 1);
    EXPECT_EQ(c.sets[0]->size, 256);
    EXPECT_TRUE(sink_.shown.empty());
}

TEST_F(ConjuntosFilesTest, AReadThatFailsPartWayLeavesTheSetReadSoFarInTheSlot) {
    const std::string file = path("contact.txt");
    writeAll(file,
             "2\n0\nContacto\n0\n8\n0\n0\n2\n0\n0\n\n"
             "AnaLopez\nAna\nLopez\nCentro\nn/a\n3\nMayo\nnotas\n0\n0\n\n"
             "BeaRuiz\nBea\nRuiz\nNorte\nn/a\n4\nJunio\nnotas\nuno\n");
    TConjuntos c(1);
    EXPECT_THROW(c.loadText(file, 0), ConvertError);
    ASSERT_FALSE(c.isEmpty(0));
    EXPECT_EQ(c.sets[0]->count, 1);
    iVector ints;
    sVector strs;
    fVector floats;
    EXPECT_TRUE(c.sObjInfo("AnaLopez", 0, 0, ints, strs, floats));
    EXPECT_FALSE(c.sObjInfo("BeaRuiz", 0, 0, ints, strs, floats));
}

}  // namespace
}  // namespace contavio
