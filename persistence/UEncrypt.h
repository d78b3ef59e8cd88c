// The line cipher: a chained substitution over the 224 codes 32..255. Each
// cipher byte depends on the key and on every plain byte up to its position,
// and cipher text never holds a byte below 32, so a cipher line stays one
// line of a text file. It keeps casual eyes out; it is no protection against
// someone who can read the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace contavio {

// Same length as text; every byte in 32..255. key >= 32 for a round trip;
// smaller keys are reduced into 0..223 as decryption does.
std::string encryptStr(const std::string& text, int32_t key);
// Inverse of encryptStr for plain bytes 32..255; a plain byte c below 32
// comes back as c + 224.
std::string decryptStr(const std::string& text, int32_t key);

// The same without a new string per line, for the database files:
// encryptAppend appends encryptStr(text, key) to out; decryptInto makes out
// decryptStr(text, key), reusing out's storage.
void encryptAppend(std::string_view text, int32_t key, std::string& out);
void decryptInto(std::string_view text, int32_t key, std::string& out);
// Writes decryptStr(text, key) to out, which has room for text.size() bytes.
void decryptTo(std::string_view text, int32_t key, char* out);

}  // namespace contavio
