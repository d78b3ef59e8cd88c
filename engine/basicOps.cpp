#include "basicOps.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace contavio {

namespace {

inline unsigned char lowerAZ(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

inline std::string_view upToNul(const std::string& text) {
    const void* nul = std::memchr(text.data(), '\0', text.size());
    const size_t n =
        nul ? static_cast<size_t>(static_cast<const char*>(nul) - text.data()) : text.size();
    return std::string_view(text.data(), n);
}

}  // namespace

int32_t hashStr(const std::string& text, int32_t size) {
    // A 64-bit sum cannot overflow for any text that fits in memory.
    uint64_t sum = 0;
    for (unsigned char c : text) sum += c;
    return static_cast<int32_t>(sum % static_cast<uint64_t>(size));
}

int32_t modInt(int32_t value, int32_t size) {
    // C++ remainders already take the sign of the dividend.
    return value % size;
}

bool containsText(const std::string& text, const std::string& pattern) {
    if (text.empty()) return false;
    if (pattern.empty()) return true;
    // Compare the texts as copyStr would hand them out, without copying.
    const std::string_view t = upToNul(text);
    const std::string_view p = upToNul(pattern);
    auto eq = [](char a, char b) {
        return lowerAZ(static_cast<unsigned char>(a)) == lowerAZ(static_cast<unsigned char>(b));
    };
    return std::search(t.begin(), t.end(), p.begin(), p.end(), eq) != t.end();
}

std::string copyStr(const std::string& text) { return std::string(upToNul(text)); }

std::string flattenLines(const std::string& text) {
    std::string out = copyStr(text);
    for (char& c : out) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return out;
}

}  // namespace contavio
