#include "engine/strListUnit.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace contavio {
namespace {

// Items from head to end, read through the cursor operations.
std::vector<std::string> itemsOf(strList* list) {
    std::vector<std::string> out;
    if (countStrList(list) == 0) return out;
    firstStrList(list);
    do {
        std::string text = "stale";
        curStrList(list, text);
        out.push_back(text);
    } while (nextStrList(list));
    return out;
}

struct StrListTest : ::testing::Test {
    strList* list = newStrList();
    ~StrListTest() override {
        if (list != nullptr) freeStrList(list);
    }
};

TEST_F(StrListTest, NewListIsEmpty) {
    EXPECT_TRUE(isEmptyStrList(list));
    EXPECT_EQ(countStrList(list), 0);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(list->cursor, nullptr);
}

TEST_F(StrListTest, LastPushedComesFirst) {
    for (const char* t : {"a", "b", "c"}) pushStrList(list, t);
    EXPECT_FALSE(isEmptyStrList(list));
    EXPECT_EQ(countStrList(list), 3);
    EXPECT_EQ(itemsOf(list), (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_EQ(list->head->value, "c");
    ASSERT_NE(list->tail, nullptr);
    EXPECT_EQ(list->tail->value, "a");
    EXPECT_EQ(list->tail->next, nullptr);
}

TEST_F(StrListTest, PushedTextEndsAtItsFirstNul) {
    pushStrList(list, std::string("abc\0def", 7));
    pushStrList(list, "Ni\xF1o");
    EXPECT_EQ(itemsOf(list), (std::vector<std::string>{"Ni\xF1o", "abc"}));
}

TEST_F(StrListTest, PopRemovesTheHead) {
    for (const char* t : {"a", "b", "c"}) pushStrList(list, t);
    popStrList(list);
    EXPECT_EQ(countStrList(list), 2);
    EXPECT_EQ(itemsOf(list), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(list->tail->value, "a");
}

TEST_F(StrListTest, PopOnEmptyListChangesNothing) {
    popStrList(list);
    EXPECT_EQ(countStrList(list), 0);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    pushStrList(list, "x");
    EXPECT_EQ(itemsOf(list), (std::vector<std::string>{"x"}));
}

TEST_F(StrListTest, TailIsResetWhenEmptiedAndSetAgainByTheNextPush) {
    pushStrList(list, "one");
    EXPECT_EQ(list->tail, list->head.get());
    popStrList(list);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(countStrList(list), 0);
    EXPECT_TRUE(isEmptyStrList(list));
    pushStrList(list, "two");
    ASSERT_NE(list->head, nullptr);
    EXPECT_EQ(list->tail, list->head.get());
    EXPECT_EQ(list->tail->value, "two");
    pushStrList(list, "three");
    EXPECT_EQ(list->tail->value, "two");
}

TEST_F(StrListTest, NextOnTheLastNodeReturnsFalseAndLeavesNoCursor) {
    pushStrList(list, "a");
    pushStrList(list, "b");
    firstStrList(list);
    EXPECT_EQ(list->cursor, list->head.get());
    EXPECT_TRUE(nextStrList(list));
    EXPECT_EQ(list->cursor, list->tail);
    EXPECT_FALSE(nextStrList(list));
    EXPECT_EQ(list->cursor, nullptr);
}

TEST(StrListFree, LeavesTheCallersPointerNone) {
    strList* list = newStrList();
    pushStrList(list, "a");
    pushStrList(list, "b");
    freeStrList(list);
    EXPECT_EQ(list, nullptr);
    strList* empty = newStrList();
    freeStrList(empty);
    EXPECT_EQ(empty, nullptr);
}

TEST(StrListFree, FreesAMillionNodesWithoutRecursion) {
    strList* list = newStrList();
    for (int i = 0; i < 1000000; ++i) pushStrList(list, "n");
    EXPECT_EQ(countStrList(list), 1000000);
    freeStrList(list);
    EXPECT_EQ(list, nullptr);

    auto owned = std::make_unique<strList>();
    for (int i = 0; i < 1000000; ++i) pushStrList(owned.get(), "n");
    owned.reset();  // the destructor alone
}

}  // namespace
}  // namespace contavio
