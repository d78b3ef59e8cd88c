#include "UEncrypt.h"

#include <cstdint>

namespace contavio {

namespace {

constexpr int kSymbols = 224;  // codes 32..255

// The key acts only through its remainder; reducing it first keeps every sum
// below in int range, whatever the key.
int reduceKey(int32_t key) {
    int k = key % kSymbols;
    return k < 0 ? k + kSymbols : k;
}

int code(char c) { return static_cast<unsigned char>(c); }

// The plain byte for the difference of two cipher codes (-255..255); three
// times 224 keeps the dividend positive.
char plainFrom(int difference, int k) {
    return static_cast<char>((difference - k + 3 * kSymbols) % kSymbols + 32);
}

}  // namespace

namespace {

// Per-key tables, made once for the key in use: the step that each plain
// code adds to the running sum, and the plain byte for each difference of
// two neighbouring cipher codes (-255..255, offset by 255).
struct KeyTables {
    int key = -1;
    uint8_t step[256];
    char plain[511];

    void prepare(int k) {
        if (key == k) return;
        for (int c = 0; c < 256; ++c)
            step[c] = static_cast<uint8_t>((c - 32 + kSymbols + k) % kSymbols);
        for (int d = -255; d <= 255; ++d) plain[d + 255] = plainFrom(d, k);
        key = k;
    }
};

thread_local KeyTables tables;

}  // namespace

void encryptAppend(std::string_view text, int32_t key, std::string& out) {
    tables.prepare(reduceKey(key));
    const size_t at = out.size();
    out.resize(at + text.size());
    char* cipher = out.data() + at;
    const uint8_t* step = tables.step;
    const auto* plain = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    unsigned s = 0;  // running sum of (code - 32 + key), modulo 224
    for (size_t i = 0; i < n; ++i) {
        // Each byte's step is already reduced, so the sum needs one test.
        s += step[plain[i]];
        s = s >= kSymbols ? s - kSymbols : s;
        cipher[i] = static_cast<char>(s + 32);
    }
}

void decryptTo(std::string_view text, int32_t key, char* out) {
    tables.prepare(reduceKey(key));
    const size_t n = text.size();
    const char* in = text.data();
    // Each plain byte needs only its own and the previous cipher byte.
    const char* byDifference = tables.plain + 255;
    if (n > 0) out[0] = byDifference[code(in[0]) - 32];
    for (size_t i = 1; i < n; ++i) out[i] = byDifference[code(in[i]) - code(in[i - 1])];
}

void decryptInto(std::string_view text, int32_t key, std::string& out) {
    out.resize(text.size());
    decryptTo(text, key, out.data());
}

std::string encryptStr(const std::string& text, int32_t key) {
    std::string out;
    encryptAppend(text, key, out);
    return out;
}

std::string decryptStr(const std::string& text, int32_t key) {
    std::string out;
    decryptInto(text, key, out);
    return out;
}

}  // namespace contavio
