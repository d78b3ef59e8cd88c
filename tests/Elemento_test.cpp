#include "engine/Elemento.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "engine/protoData.h"

namespace contavio {
namespace {

TprotoData makeProto(int32_t nInt, int32_t nStr, int32_t nFloat, int32_t nIntList, int32_t nStrList,
                     int32_t nFloatList) {
    TprotoData proto;
    proto.setData(nInt, nStr, nFloat);
    proto.setListData(nIntList, nStrList, nFloatList);
    return proto;
}

std::unique_ptr<TElem> makeElem(const TprotoData& proto) {
    auto elem = std::make_unique<TElem>();
    elem->setProto(proto);
    return elem;
}

void expectCounts(const TprotoData& p, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e,
                  int32_t f) {
    int32_t x = -1, y = -1, z = -1;
    p.getData(x, y, z);
    EXPECT_EQ(x, a);
    EXPECT_EQ(y, b);
    EXPECT_EQ(z, c);
    p.getListData(x, y, z);
    EXPECT_EQ(x, d);
    EXPECT_EQ(y, e);
    EXPECT_EQ(z, f);
}

TEST(ProtoData, StartsAtZeroAndReadsBackInArgumentOrder) {
    TprotoData proto;
    expectCounts(proto, 0, 0, 0, 0, 0, 0);
    proto.setData(1, 2, 3);
    proto.setListData(4, 5, 6);
    expectCounts(proto, 1, 2, 3, 4, 5, 6);
    EXPECT_EQ(proto.nIntList, 4);
    EXPECT_EQ(proto.nStrList, 5);
}

TEST(ProtoData, CloneCopiesAllSixCounts) {
    TprotoData proto = makeProto(1, 2, 3, 4, 5, 6);
    std::unique_ptr<TprotoData> copy = proto.clone();
    proto.setData(9, 9, 9);
    expectCounts(*copy, 1, 2, 3, 4, 5, 6);
}

TEST(Elem, ContactShapeHasEightEmptyStringsAndTwoEmptyLists) {
    auto elem = makeElem(makeProto(0, 8, 0, 0, 2, 0));
    EXPECT_EQ(elem->getStrs(), sVector(8, ""));
    EXPECT_TRUE(elem->getInts().empty());
    EXPECT_TRUE(elem->getFloats().empty());
    ASSERT_EQ(elem->strLists.size(), 2u);
    EXPECT_TRUE(elem->intLists.empty());
    int32_t count = -1;
    sVector values{"stale"};
    elem->getStrList(1, count, values);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(values.empty());
    iVector counts{7, 7, 7};
    sMatrix lists{{"stale"}};
    elem->getStrLists(counts, lists);
    EXPECT_EQ(counts, (iVector{0, 0}));
    EXPECT_EQ(lists, (sMatrix{{}, {}}));
}

TEST(Elem, ShapingFillsDefaultsAndEmptyLists) {
    auto elem = makeElem(makeProto(2, 1, 3, 2, 1, 4));
    EXPECT_EQ(elem->getInts(), (iVector{0, 0}));
    EXPECT_EQ(elem->getFloats(), (fVector{0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(elem->getStrs(), (sVector{""}));
    ASSERT_EQ(elem->intLists.size(), 2u);
    for (intList* l : elem->intLists) {
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(countIntList(l), 0);
    }
    ASSERT_NE(elem->strLists[0], nullptr);
    EXPECT_TRUE(isEmptyStrList(elem->strLists[0]));
}

TEST(Elem, GetProtoAndCountsTravelByName) {
    auto elem = makeElem(makeProto(1, 2, 3, 4, 5, 6));
    EXPECT_EQ(elem->nIntList, 4);
    EXPECT_EQ(elem->nStrList, 5);
    EXPECT_EQ(elem->nFloatList, 6);
    EXPECT_EQ(elem->intLists.size(), 4u);
    EXPECT_EQ(elem->strLists.size(), 5u);
    expectCounts(*elem->getProto(), 1, 2, 3, 4, 5, 6);
}

TEST(Elem, ScalarSettersAndGettersRoundTrip) {
    auto elem = makeElem(makeProto(2, 3, 2, 0, 0, 0));
    elem->setInt(1, -123456);
    elem->setFloat(0, 2.5f);
    const std::string longText(100000, '\xE9');
    elem->setStr(0, longText);
    elem->setStr(2, "Mu\xF1oz");
    EXPECT_EQ(elem->getInt(1), -123456);
    EXPECT_EQ(elem->getInt(0), 0);
    EXPECT_EQ(elem->getFloat(0), 2.5f);
    std::string text = "stale";
    elem->getStr(0, text);
    EXPECT_EQ(text, longText);
    elem->getStr(1, text);
    EXPECT_EQ(text, "");
    EXPECT_EQ(elem->str(2), "Mu\xF1oz");
    EXPECT_EQ(elem->getStrs(), (sVector{longText, "", "Mu\xF1oz"}));
    EXPECT_EQ(elem->getInts(), (iVector{0, -123456}));
}

TEST(Elem, StringsEndAtTheirFirstNul) {
    auto elem = makeElem(makeProto(0, 1, 0, 0, 1, 0));
    elem->setStr(0, std::string("abc\0def", 7));
    EXPECT_EQ(elem->str(0), "abc");
    elem->addStrListItem(std::string("xy\0z", 4), 0);
    int32_t count = 0;
    sVector values;
    elem->getStrList(0, count, values);
    EXPECT_EQ(values, (sVector{"xy"}));
}

TEST(Elem, GetFloatsCopiesTheBitsUnchanged) {
    auto elem = makeElem(makeProto(0, 0, 3, 0, 0, 0));
    const uint32_t nanBits = 0x7FC12345u;
    float nan;
    std::memcpy(&nan, &nanBits, sizeof nan);
    elem->setFloat(0, nan);
    elem->setFloat(1, -0.0f);
    elem->setFloat(2, 1e-45f);  // a subnormal
    const fVector floats = elem->getFloats();
    ASSERT_EQ(floats.size(), 3u);
    uint32_t bits[3];
    std::memcpy(bits, floats.data(), sizeof bits);
    EXPECT_EQ(bits[0], nanBits);
    EXPECT_EQ(bits[1], 0x80000000u);
    EXPECT_EQ(bits[2], 1u);
    const float single = elem->getFloat(0);
    EXPECT_EQ(std::memcmp(&single, &nanBits, sizeof single), 0);
}

TEST(Elem, ListsReadBackNewestFirst) {
    auto elem = makeElem(makeProto(0, 0, 0, 2, 2, 0));
    for (const char* t : {"a", "b", "c"}) elem->addStrListItem(t, 0);
    elem->addStrListItem("other", 1);
    for (int32_t v : {10, 20, 30}) elem->addIntListItem(v, 1);
    int32_t count = -1;
    sVector values{"stale", "stale", "stale", "stale"};
    elem->getStrList(0, count, values);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(values, (sVector{"c", "b", "a"}));
    iVector ints{1, 2, 3, 4, 5};
    elem->getIntList(1, count, ints);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(ints, (iVector{30, 20, 10}));
    elem->getIntList(0, count, ints);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(ints.empty());
}

TEST(Elem, GetStrListsGivesOneArrayPerList) {
    auto elem = makeElem(makeProto(0, 0, 0, 0, 3, 0));
    elem->addStrListItem("t1", 0);
    elem->addStrListItem("t2", 0);
    elem->addStrListItem("m1", 2);
    iVector counts{5, 5, 5, 5, 5};
    sMatrix lists{{"x"}, {"y"}, {"z"}, {"w"}};
    elem->getStrLists(counts, lists);
    EXPECT_EQ(counts, (iVector{2, 0, 1}));
    EXPECT_EQ(lists, (sMatrix{{"t2", "t1"}, {}, {"m1"}}));
}

TEST(Elem, GetStrListsWithoutStringListsLeavesItsArgumentsAlone) {
    auto elem = makeElem(makeProto(1, 1, 0, 2, 0, 1));
    elem->addIntListItem(4, 0);
    iVector counts{3, 1};
    sMatrix lists{{"a", "b", "c"}, {"d"}};
    elem->getStrLists(counts, lists);
    EXPECT_EQ(counts, (iVector{3, 1}));
    EXPECT_EQ(lists, (sMatrix{{"a", "b", "c"}, {"d"}}));
}

TEST(Elem, AddFloatListItemChangesNothing) {
    auto elem = makeElem(makeProto(0, 1, 1, 0, 1, 2));
    elem->addFloatListItem(3.5f, 0);
    elem->addFloatListItem(-1.0f, 1);
    EXPECT_EQ(elem->nFloatList, 2);
    expectCounts(*elem->getProto(), 0, 1, 1, 0, 1, 2);
    EXPECT_EQ(elem->getFloats(), (fVector{0.0f}));
    EXPECT_EQ(elem->getStrs(), (sVector{""}));
    EXPECT_EQ(countStrList(elem->strLists[0]), 0);
}

}  // namespace
}  // namespace contavio
