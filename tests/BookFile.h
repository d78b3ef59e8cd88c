// A contact book kept in a database file of the store, as the program keeps
// data.vlt, for tests that run a sync in a process of its own.
#pragma once

#include <map>
#include <string>

#include "exchange/ContactData.h"

namespace contavio {

using BookMap = std::map<std::string, ContactData>;

// Every contact of the file by key; a missing file is an empty book.
BookMap loadBookFile(const std::string& path);

// Writes the book atomically (saveCryptHashE).
void saveBookFile(const std::string& path, const BookMap& book);

}  // namespace contavio
