#include "persistence/UEncrypt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "persistence/DataFiles.h"

namespace contavio {
namespace {

const std::vector<int32_t> kKeys = {32, 33, 100, 223, 224, 255, 853, 853 + 224, 1000000, INT32_MAX};

int code(char c) { return static_cast<unsigned char>(c); }

// A text of `length` bytes drawn from lo..hi.
std::string randomText(std::mt19937& rng, size_t length, int lo = 32, int hi = 255) {
    std::uniform_int_distribution<int> byte(lo, hi);
    std::string text(length, ' ');
    for (char& c : text) c = static_cast<char>(byte(rng));
    return text;
}

bool allPrintable(const std::string& text) {
    for (char c : text) {
        if (code(c) < 32) return false;
    }
    return true;
}

TEST(UEncryptKnownValues, MatchHandComputedCiphers) {
    // 853 mod 224 = 181; 'A' is symbol 33: (181 + 33) mod 224 = 214 -> code 246.
    EXPECT_EQ(encryptStr("A", 853), "\xF6");
    // 'B' adds 34 + 181: (214 + 215) mod 224 = 205 -> code 237.
    EXPECT_EQ(encryptStr("AB", 853), "\xF6\xED");
    // Two blanks under key 32: symbols 32 and 64.
    EXPECT_EQ(encryptStr("  ", 32), "@`");
    // 1000000 mod 224 = 64; 'A': 64 + 33 = 97 -> code 129.
    EXPECT_EQ(encryptStr("A", 1000000), "\x81");
    EXPECT_EQ(decryptStr("\xF6\xED", 853), "AB");
    EXPECT_EQ(decryptStr("@`", 32), "  ");
}

TEST(UEncryptKnownValues, EmptyTextStaysEmptyBothWays) {
    for (int32_t key : kKeys) {
        EXPECT_EQ(encryptStr("", key), "");
        EXPECT_EQ(decryptStr("", key), "");
    }
}

TEST(UEncryptRoundTrip, EveryCodeFrom32To255ComesBackAlone) {
    for (int32_t key : kKeys) {
        for (int c = 32; c <= 255; ++c) {
            const std::string text(1, static_cast<char>(c));
            const std::string cipher = encryptStr(text, key);
            ASSERT_EQ(cipher.size(), 1u);
            ASSERT_GE(code(cipher[0]), 32);
            ASSERT_EQ(decryptStr(cipher, key), text) << "code " << c << " key " << key;
        }
    }
}

TEST(UEncryptRoundTrip, TextsOfEveryLengthUpToSeveralHundredComeBack) {
    std::mt19937 rng(20240601);
    for (int32_t key : kKeys) {
        for (size_t length = 0; length <= 600; length += (length < 40 ? 1 : 37)) {
            const std::string text = randomText(rng, length);
            const std::string cipher = encryptStr(text, key);
            ASSERT_EQ(cipher.size(), length);
            ASSERT_TRUE(allPrintable(cipher));
            ASSERT_EQ(decryptStr(cipher, key), text) << "length " << length << " key " << key;
        }
    }
}

TEST(UEncryptRoundTrip, BlanksOnlyAndCode255OnlyComeBack) {
    for (size_t length : {1u, 2u, 223u, 224u, 225u, 500u}) {
        for (char c : {' ', '\xFF'}) {
            const std::string text(length, c);
            EXPECT_EQ(decryptStr(encryptStr(text, 853), 853), text);
        }
    }
}

TEST(UEncryptRoundTrip, EveryPairOfNeighbouringCodesComesBack) {
    // All 224 * 224 two-byte texts under the application's key.
    for (int a = 32; a <= 255; ++a) {
        for (int b = 32; b <= 255; ++b) {
            const std::string text{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(decryptStr(encryptStr(text, 853), 853), text);
        }
    }
}

TEST(UEncryptRoundTrip, KeysBelow32AreReducedAndStillRoundTrip) {
    std::mt19937 rng(7);
    const std::string text = randomText(rng, 300);
    for (int32_t key : {0, 1, 31, -1, -224, INT32_MIN}) {
        const std::string cipher = encryptStr(text, key);
        EXPECT_TRUE(allPrintable(cipher)) << key;
        EXPECT_EQ(decryptStr(cipher, key), text) << key;
    }
}

TEST(UEncryptControlCodes, ComeBackAsCodePlus224WithNeighboursIntact) {
    const std::string text = std::string("a\tb") + '\0' + "c\x1F\r\nd\x01";
    for (int32_t key : kKeys) {
        const std::string cipher = encryptStr(text, key);
        ASSERT_EQ(cipher.size(), text.size());
        EXPECT_TRUE(allPrintable(cipher));
        const std::string expected = std::string("a\xE9") + "b\xE0" + "c\xFF\xED\xEA" + "d\xE1";
        EXPECT_EQ(decryptStr(cipher, key), expected) << key;
    }
}

TEST(UEncryptControlCodes, CipherOfAnyBytesHoldsOnlyCodes32To255) {
    std::mt19937 rng(99);
    for (int round = 0; round < 200; ++round) {
        const std::string text = randomText(rng, 1 + round * 3, 0, 255);
        const std::string cipher = encryptStr(text, kKeys[round % kKeys.size()]);
        ASSERT_EQ(cipher.size(), text.size());
        ASSERT_TRUE(allPrintable(cipher));
    }
}

TEST(UEncryptKeys, KeysDifferingBy224GiveTheSameCipher) {
    std::mt19937 rng(3);
    const std::string text = randomText(rng, 200);
    const std::string cipher = encryptStr(text, 853);
    EXPECT_EQ(encryptStr(text, 853 + 224), cipher);
    EXPECT_EQ(encryptStr(text, 853 + 224 * 9000), cipher);
    EXPECT_EQ(encryptStr(text, 853 - 224 * 3), cipher);  // 181
    EXPECT_NE(encryptStr(text, 854), cipher);
    EXPECT_EQ(decryptStr(cipher, 853 + 224), text);
}

TEST(UEncryptKeys, WrongKeyShiftsEveryCharacterCyclically) {
    std::mt19937 rng(11);
    const std::string text = randomText(rng, 400);
    for (int32_t writer : {853, 32, 1000000}) {
        for (int32_t reader : {854, 852, 32, 500, 1000000, 853 + 224 * 5 + 1}) {
            const std::string garbled = decryptStr(encryptStr(text, writer), reader);
            ASSERT_EQ(garbled.size(), text.size());
            const int64_t shift = static_cast<int64_t>(writer) - reader;
            for (size_t i = 0; i < text.size(); ++i) {
                const int64_t symbol = ((code(text[i]) - 32 + shift) % 224 + 224) % 224;
                ASSERT_EQ(code(garbled[i]), symbol + 32)
                    << "writer " << writer << " reader " << reader << " at " << i;
            }
        }
    }
}

TEST(UEncryptChaining, SameTextGivesSameCipher) {
    const std::string text =
        "Mar\xED"
        "a Jos\xE9 Pe\xF1"
        "a <maria@example.org>";
    EXPECT_EQ(encryptStr(text, 853), encryptStr(text, 853));
}

TEST(UEncryptChaining, TextsDifferingOnlyInTheLastCharDifferOnlyThere) {
    const std::string a = "Ana Garc\xEDz";
    const std::string b = "Ana Garc\xEDs";
    const std::string ca = encryptStr(a, 853);
    const std::string cb = encryptStr(b, 853);
    ASSERT_EQ(ca.size(), cb.size());
    EXPECT_EQ(ca.substr(0, ca.size() - 1), cb.substr(0, cb.size() - 1));
    EXPECT_NE(ca.back(), cb.back());
}

TEST(UEncryptChaining, ChangingOnePlainCharChangesTheCipherFromThereOn) {
    std::mt19937 rng(5);
    const std::string text = randomText(rng, 50);
    for (size_t at : {0u, 1u, 17u, 49u}) {
        std::string other = text;
        other[at] = static_cast<char>(text[at] == 'x' ? 'y' : 'x');
        const std::string ca = encryptStr(text, 853);
        const std::string cb = encryptStr(other, 853);
        EXPECT_EQ(ca.substr(0, at), cb.substr(0, at));
        for (size_t i = at; i < text.size(); ++i) EXPECT_NE(ca[i], cb[i]) << at << " " << i;
    }
}

TEST(UEncryptChaining, ChangingOneCipherCharChangesAtMostTwoPlainChars) {
    std::mt19937 rng(6);
    const std::string text = randomText(rng, 40);
    std::string cipher = encryptStr(text, 853);
    cipher[10] = static_cast<char>(cipher[10] == '!' ? '"' : '!');
    const std::string back = decryptStr(cipher, 853);
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != 10 && i != 11) {
            EXPECT_EQ(back[i], text[i]) << i;
        }
    }
    EXPECT_NE(back[10], text[10]);
}

TEST(UEncryptGarbage, DecryptingAnyBytesGivesSameLengthInRange) {
    std::mt19937 rng(13);
    for (int round = 0; round < 300; ++round) {
        const std::string garbage = randomText(rng, static_cast<size_t>(round), 0, 255);
        for (int32_t key : {32, 853, INT32_MAX, 0, -77}) {
            const std::string plain = decryptStr(garbage, key);
            ASSERT_EQ(plain.size(), garbage.size());
            ASSERT_TRUE(allPrintable(plain));
        }
    }
}

TEST(UEncryptBuffers, AppendAndIntoGiveWhatTheStringFunctionsGive) {
    std::mt19937 rng(21);
    std::string cipher = "kept";
    std::string plain(1000, 'x');  // longer than any text below: must shrink
    for (size_t length : {0u, 1u, 15u, 16u, 300u}) {
        const std::string text = randomText(rng, length);
        cipher.resize(4);
        encryptAppend(text, 853, cipher);
        EXPECT_EQ(cipher, "kept" + encryptStr(text, 853));
        decryptInto(cipher.substr(4), 853, plain);
        EXPECT_EQ(plain, text);
    }
}

}  // namespace
}  // namespace contavio
