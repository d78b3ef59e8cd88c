// String helpers shared by the whole store. Texts are Windows-1252 bytes held
// in std::string; every byte is taken unsigned (0..255).
#pragma once

#include <cstdint>
#include <string>

namespace contavio {

// Bucket of a string key: the unsigned byte sum of the text modulo size.
// REQUIRES: size >= 1. The result lies in 0..size-1.
int32_t hashStr(const std::string& text, int32_t size);

// Bucket of an integer key: the remainder of value / size with the sign of
// value (-7 mod 5 is -2). REQUIRES: size >= 1.
int32_t modInt(int32_t value, int32_t size);

// True when pattern occurs in text, with only 'A'..'Z' folded onto 'a'..'z'
// (accented letters are not folded). An empty text never contains anything,
// not even the empty pattern; an empty pattern is found in any other text.
bool containsText(const std::string& text, const std::string& pattern);

// The copy through which every string value enters and leaves the store: the
// bytes of text up to, not including, its first NUL byte.
std::string copyStr(const std::string& text);

// copyStr(text) with every CR (13) and every LF (10) turned into one blank.
std::string flattenLines(const std::string& text);

}  // namespace contavio
