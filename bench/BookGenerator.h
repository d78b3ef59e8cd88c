// Synthetic contact books for the benchmarks: the same seed and size always
// give the same book, byte for byte. Texts are Windows-1252, as the store
// keeps them. Some contacts repeat the names and surnames of an earlier one,
// so their keys collide and a set built from the book holds fewer contacts
// than the book has entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/Elemento.h"

namespace contavio::bench {

// String fields and lists of a contact, as the contact book lays them out.
inline constexpr int32_t kFieldKey = 0;
inline constexpr int32_t kFieldNames = 1;
inline constexpr int32_t kFieldSurnames = 2;
inline constexpr int32_t kFieldAddress = 3;
inline constexpr int32_t kFieldWeb = 4;
inline constexpr int32_t kFieldDay = 5;
inline constexpr int32_t kFieldMonth = 6;
inline constexpr int32_t kFieldNotes = 7;
inline constexpr int32_t kStringFields = 8;
inline constexpr int32_t kListEmails = 0;
inline constexpr int32_t kListPhones = 1;
inline constexpr int32_t kStringLists = 2;

// A fragment that only one street name of the generator holds: it is found in
// the address of about one contact in twenty and in no name.
inline constexpr const char* kFivePercentFragment = "olivo";

struct Contact {
    sVector fields;  // kStringFields values; field 0 is names followed by surnames
    sVector emails;  // 0 to 2, in the order they are added to list 0
    sVector phones;  // 0 to 3, in the order they are added to list 1
};

std::vector<Contact> generateBook(int64_t count, uint64_t seed);

// The number of distinct keys in the book: what a set built from it holds.
int64_t distinctKeys(const std::vector<Contact>& book);

}  // namespace contavio::bench
