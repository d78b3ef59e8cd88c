// How a contact is laid out in the record store: one set in slot 0 of the set
// collection, eight string fields and two string lists per contact, keyed by
// the first names followed directly by the surnames.
#pragma once

#include <cstdint>
#include <string>

#include "engine/protoData.h"

namespace contavio {

// String fields of a contact.
inline constexpr int32_t kKeyField = 0;  // first names + surnames
inline constexpr int32_t kFirstNamesField = 1;
inline constexpr int32_t kSurnamesField = 2;
inline constexpr int32_t kAddressField = 3;
inline constexpr int32_t kWebField = 4;
inline constexpr int32_t kDayField = 5;    // the day picker's text
inline constexpr int32_t kMonthField = 6;  // the month picker's text
inline constexpr int32_t kNotesField = 7;  // on one line (flattenLines)
inline constexpr int32_t kContactStrings = 8;

// String lists of a contact. The e-mails come first although the telephones'
// list stands first on the screen.
inline constexpr int32_t kEmailList = 0;
inline constexpr int32_t kPhoneList = 1;
inline constexpr int32_t kContactLists = 2;

// The contact set, when no file supplied it.
inline constexpr int32_t kContactSlot = 0;
inline constexpr int32_t kContactBuckets = 256;
inline constexpr int32_t kContactTag = 0;
inline constexpr char kContactSetName[] = "Contacto";

// The files, relative to the working directory, and the cipher key.
inline constexpr char kLegacyFile[] = "contact.txt";
inline constexpr char kDataFile[] = "data.vlt";
inline constexpr int32_t kCipherKey = 853;

// commitObj's mode for a set keyed by a string field.
inline constexpr int32_t kCommitByString = 0;

// The schema of a contact: 0 integer, 8 string and 0 float fields; 0 integer,
// 2 string and 0 float lists.
TprotoData contactProto();

// Keys compare byte for byte: 'AB' + 'C' and 'A' + 'BC' are the same key.
std::string contactKey(const std::string& firstNames, const std::string& surnames);

}  // namespace contavio
