// The line cipher in both directions, against a plain restatement of its
// running sum. The first eight input bytes pick two keys (one of at least 32
// for enciphering, one of any sign for deciphering); the rest is the text.
//
// Enciphering: same length, every byte in 32..255, equal to the reference,
// deciphered back to the text with codes below 32 raised by 224. Deciphering:
// same length, bytes in 32..255, equal to the reference, and enciphering
// gives the cipher line back when it holds only codes 32..255.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "persistence/UEncrypt.h"

using namespace contavio;
using namespace contavio::fuzz;

namespace {

constexpr int64_t kSymbols = 224;

int64_t reduce(int64_t value) {
    const int64_t r = value % kSymbols;
    return r < 0 ? r + kSymbols : r;
}

int code(char c) { return static_cast<unsigned char>(c); }

// Symbol i is the sum of (code - 32 + key) over positions 0..i, modulo 224.
std::string referenceEncrypt(const std::string& text, int64_t key) {
    std::string out(text.size(), ' ');
    int64_t s = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        s = reduce(s + code(text[i]) - 32 + key);
        out[i] = static_cast<char>(s + 32);
    }
    return out;
}

// Plain byte i depends on cipher bytes i and i - 1 only (the first on 32).
std::string referenceDecrypt(const std::string& cipher, int64_t key) {
    std::string out(cipher.size(), ' ');
    int previous = 32;
    for (size_t i = 0; i < cipher.size(); ++i) {
        out[i] = static_cast<char>(reduce(code(cipher[i]) - previous - key) + 32);
        previous = code(cipher[i]);
    }
    return out;
}

bool allPrintable(const std::string& text) {
    for (char c : text) {
        if (code(c) < 32) return false;
    }
    return true;
}

uint32_t takeWord(const uint8_t*& data, size_t& size) {
    uint32_t word = 0;
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size) word = (word << 8) | *data;
    return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Keys stay within 2^30 of zero: sums near the 32-bit limit are no key the
    // program uses.
    const uint32_t w1 = takeWord(data, size);
    const uint32_t w2 = takeWord(data, size);
    const int32_t key = 32 + static_cast<int32_t>(w1 % (1u << 30));
    const int32_t anyKey = static_cast<int32_t>(w2 % (1u << 31)) - (1 << 30);
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string cipher = encryptStr(text, key);
    CHECK(cipher.size() == text.size());
    CHECK(allPrintable(cipher));
    CHECK(cipher == referenceEncrypt(text, key));
    // Keys act through their remainder modulo 224 only.
    CHECK(encryptStr(text, 32 + static_cast<int32_t>(reduce(key - 32))) == cipher);

    const std::string plain = decryptStr(cipher, key);
    CHECK(plain.size() == text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const int c = code(text[i]);
        CHECK(code(plain[i]) == (c < 32 ? c + 224 : c));
    }

    // The other direction: any bytes are a cipher line to the decipherer.
    const std::string opened = decryptStr(text, anyKey);
    CHECK(opened.size() == text.size());
    CHECK(allPrintable(opened));
    CHECK(opened == referenceDecrypt(text, anyKey));
    const std::string opened2 = decryptStr(text, key);
    CHECK(opened2 == referenceDecrypt(text, key));
    if (allPrintable(text)) CHECK(encryptStr(opened2, key) == text);

    // A change in the last plain byte changes only the last cipher byte.
    if (!text.empty()) {
        std::string changed = text;
        changed.back() = static_cast<char>(code(changed.back()) ^ 0x5A);
        const std::string cipher2 = encryptStr(changed, key);
        CHECK(cipher2.compare(0, cipher.size() - 1, cipher, 0, cipher.size() - 1) == 0);
        CHECK(cipher2.back() != cipher.back());
    }
    return 0;
}
