#include "engine/IntListUnit.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

namespace contavio {
namespace {

std::vector<int32_t> itemsOf(intList* list) {
    std::vector<int32_t> out;
    if (countIntList(list) == 0) return out;
    firstIntList(list);
    do {
        out.push_back(curIntList(list));
    } while (nextIntList(list));
    return out;
}

struct IntListTest : ::testing::Test {
    intList* list = newIntList();
    ~IntListTest() override { freeIntList(list); }
};

TEST_F(IntListTest, NewListIsEmpty) {
    EXPECT_EQ(countIntList(list), 0);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(list->cursor, nullptr);
}

TEST_F(IntListTest, LastPushedComesFirst) {
    for (int32_t v : {1, -2, INT_MAX, INT_MIN, 0}) pushIntList(list, v);
    EXPECT_EQ(countIntList(list), 5);
    EXPECT_EQ(itemsOf(list), (std::vector<int32_t>{0, INT_MIN, INT_MAX, -2, 1}));
    EXPECT_EQ(list->tail->value, 1);
}

TEST_F(IntListTest, PopOnEmptyListChangesNothing) {
    popIntList(list);
    EXPECT_EQ(countIntList(list), 0);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
}

TEST_F(IntListTest, TailIsResetWhenEmptiedAndSetAgainByTheNextPush) {
    pushIntList(list, 5);
    pushIntList(list, 6);
    popIntList(list);
    EXPECT_EQ(itemsOf(list), (std::vector<int32_t>{5}));
    EXPECT_EQ(list->tail, list->head.get());
    popIntList(list);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(countIntList(list), 0);
    pushIntList(list, 7);
    ASSERT_NE(list->head, nullptr);
    EXPECT_EQ(list->tail, list->head.get());
    EXPECT_EQ(list->tail->value, 7);
}

TEST_F(IntListTest, NextOnTheLastNodeReturnsFalseAndLeavesNoCursor) {
    pushIntList(list, 1);
    firstIntList(list);
    EXPECT_EQ(curIntList(list), 1);
    EXPECT_FALSE(nextIntList(list));
    EXPECT_EQ(list->cursor, nullptr);
}

TEST(IntListFree, AbsentListIsLeftAlone) {
    intList* none = nullptr;
    freeIntList(none);
    EXPECT_EQ(none, nullptr);
}

TEST(IntListFree, LeavesTheCallersPointerNone) {
    intList* list = newIntList();
    pushIntList(list, 3);
    freeIntList(list);
    EXPECT_EQ(list, nullptr);
}

TEST(IntListFree, FreesAMillionNodesWithoutRecursion) {
    intList* list = newIntList();
    for (int i = 0; i < 1000000; ++i) pushIntList(list, i);
    EXPECT_EQ(countIntList(list), 1000000);
    freeIntList(list);
    EXPECT_EQ(list, nullptr);

    auto owned = std::make_unique<intList>();
    for (int i = 0; i < 1000000; ++i) pushIntList(owned.get(), i);
    owned.reset();
}

}  // namespace
}  // namespace contavio
