#include "engine/basicOps.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace contavio {
namespace {

std::string withNul(const char* before, const char* after) {
    return std::string(before) + '\0' + after;
}

TEST(HashStr, SumsTheBytesModuloTheSize) {
    EXPECT_EQ(hashStr("", 256), 0);
    EXPECT_EQ(hashStr("A", 256), 65);
    EXPECT_EQ(hashStr("AB", 1000), 65 + 66);
    EXPECT_EQ(hashStr("ab", 7), hashStr("ba", 7));
    EXPECT_EQ(hashStr("ab", 7), (97 + 98) % 7);
}

TEST(HashStr, TakesHighBytesAsUnsigned) {
    EXPECT_EQ(hashStr("\x80", 1000), 128);
    EXPECT_EQ(hashStr("\xFF", 1000), 255);
    EXPECT_EQ(hashStr("\xFF", 256), 255);
    EXPECT_EQ(hashStr("Jos\xE9", 1000), 'J' + 'o' + 's' + 0xE9);
    EXPECT_EQ(hashStr("\xF1\xF1\xF1", 7), (3 * 0xF1) % 7);
}

TEST(HashStr, WrapsAroundTheTableSize) {
    EXPECT_EQ(hashStr(std::string(200, 'z'), 256), 24400 % 256);
    EXPECT_EQ(hashStr(std::string(200, 'z'), 256), 80);
    EXPECT_EQ(hashStr("zz", 5), (2 * 122) % 5);
}

TEST(HashStr, SizeOneGivesBucketZero) {
    for (const std::string& t :
         {std::string(), std::string("A"), std::string("\xFF\xFE"), std::string(5000, '\xE9')}) {
        EXPECT_EQ(hashStr(t, 1), 0) << t.size();
    }
}

TEST(HashStr, ByteSumBeyondThirtyTwoBitsStaysInRange) {
    // 8.5 million bytes of 255 add up to more than INT32_MAX.
    const std::string big(8500000, '\xFF');
    const long long sum = 8500000LL * 255;
    EXPECT_EQ(hashStr(big, 7), static_cast<int32_t>(sum % 7));
    EXPECT_EQ(hashStr(big, 1000003), static_cast<int32_t>(sum % 1000003));
}

TEST(ModInt, KeepsTheSignOfTheValue) {
    EXPECT_EQ(modInt(7, 5), 2);
    EXPECT_EQ(modInt(12, 5), 2);
    EXPECT_EQ(modInt(-7, 5), -2);
    EXPECT_EQ(modInt(-5, 5), 0);
    EXPECT_EQ(modInt(0, 1), 0);
    EXPECT_EQ(modInt(INT_MAX, 2), 1);
    EXPECT_EQ(modInt(INT_MIN, 3), -2);
    EXPECT_EQ(modInt(INT_MIN, 1), 0);
}

TEST(ContainsText, EmptyTextNeverContainsAnything) {
    EXPECT_FALSE(containsText("", ""));
    EXPECT_FALSE(containsText("", "a"));
}

TEST(ContainsText, EmptyPatternIsFoundInAnyOtherText) {
    EXPECT_TRUE(containsText("Ana", ""));
    EXPECT_TRUE(containsText(" ", ""));
}

TEST(ContainsText, FoldsOnlyPlainLetters) {
    EXPECT_TRUE(containsText("Mariana", "ANA"));
    EXPECT_TRUE(containsText("MARIANA", "ana"));
    EXPECT_TRUE(containsText("Ana", "Ana"));
    EXPECT_FALSE(containsText("Ana", "Mariana"));
    EXPECT_FALSE(containsText("Mariana", "anna"));
    EXPECT_TRUE(containsText("Jos\xE9", "JOS\xE9"));
    EXPECT_FALSE(containsText("Jos\xE9", "JOS\xC9"));
    EXPECT_FALSE(containsText("Ni\xF1o", "NI\xD1O"));
    // Bytes next to the letter ranges stay apart.
    EXPECT_FALSE(containsText("@", "`"));
    EXPECT_FALSE(containsText("[", "{"));
    EXPECT_FALSE(containsText("^", "~"));
}

TEST(ContainsText, LooksOnlyUpToTheFirstNul) {
    EXPECT_FALSE(containsText(withNul("abc", "xyz"), "xyz"));
    EXPECT_TRUE(containsText(withNul("abc", "xyz"), "BC"));
    EXPECT_TRUE(containsText("abc", withNul("b", "zz")));
    EXPECT_FALSE(containsText(withNul("", "abc"), "a"));
}

TEST(CopyStr, StopsAtTheFirstNul) {
    EXPECT_EQ(copyStr(withNul("abc", "def")), "abc");
    EXPECT_EQ(copyStr(withNul("", "def")), "");
    EXPECT_EQ(copyStr(withNul("a", "b") + '\0'), "a");
}

TEST(CopyStr, KeepsTextsWithoutNulWhole) {
    std::string long300;
    for (int i = 0; i < 300; ++i) long300 += static_cast<char>(1 + i % 255);
    EXPECT_EQ(copyStr(long300), long300);
    EXPECT_EQ(copyStr(""), "");
    const std::string big(1 << 20, 'q');
    EXPECT_EQ(copyStr(big), big);
}

TEST(FlattenLines, TurnsEachLineBreakByteIntoOneBlank) {
    EXPECT_EQ(flattenLines("a\r\nb"), "a  b");
    EXPECT_EQ(flattenLines("\ra\nb\r"), " a b ");
    EXPECT_EQ(flattenLines("\n\n"), "  ");
    EXPECT_EQ(flattenLines("sin saltos \xE1\t"), "sin saltos \xE1\t");
    EXPECT_EQ(flattenLines(""), "");
}

TEST(FlattenLines, StopsAtTheFirstNul) { EXPECT_EQ(flattenLines(withNul("a\r", "\nb")), "a "); }

}  // namespace
}  // namespace contavio
