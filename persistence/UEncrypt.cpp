#include "UEncrypt.h"

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

void encryptAppend(std::string_view text, int32_t key, std::string& out) {
    const int k = reduceKey(key);
    const size_t at = out.size();
    out.resize(at + text.size());
    char* cipher = out.data() + at;
    int s = 0;  // running sum of (code - 32 + key), modulo 224
    for (size_t i = 0; i < text.size(); ++i) {
        // Each byte's step is reduced on its own (224 added first, as code - 32
        // is negative for control characters), so the sum only needs one test.
        s += (code(text[i]) - 32 + kSymbols + k) % kSymbols;
        if (s >= kSymbols) s -= kSymbols;
        cipher[i] = static_cast<char>(s + 32);
    }
}

void decryptInto(std::string_view text, int32_t key, std::string& out) {
    const int k = reduceKey(key);
    const size_t n = text.size();
    out.resize(n);
    const char* in = text.data();
    char* plain = out.data();
    // Each plain byte needs only its own and the previous cipher byte: no
    // chain runs through this loop, so the compiler may vectorise it.
    if (n > 0) plain[0] = plainFrom(code(in[0]) - 32, k);
    for (size_t i = 1; i < n; ++i) plain[i] = plainFrom(code(in[i]) - code(in[i - 1]), k);
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
