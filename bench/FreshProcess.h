// Measurements made in a fresh process (this program started again with
// kChildFlag), as a person starting the program gets them: what earlier
// measurements allocated and freed neither hides nor inflates the memory, and
// no heap left fragmented by them slows the load down.
#pragma once

#include <cstdint>
#include <string>

namespace contavio::bench {

inline constexpr const char* kChildFlag = "--fresh-child";

struct MemoryReading {
    int64_t growth = 0;    // bytes: peak resident during the load minus resident before
    int64_t contacts = 0;  // what the loaded set or table holds
    bool peak = true;      // false: the kernel would not reset the peak, resident growth only
};

// Where the SQLite side's fresh process takes its contacts from: a generated
// book (size and seed) or a database file of the store (path).
struct BookSource {
    int64_t size = 0;
    uint64_t seed = 0;
    std::string path;  // not empty: the contacts of this file
};

// A fresh process loads the database file into a TConjuntos slot.
MemoryReading measureStoreMemory(const std::string& dataPath);
// A fresh process fills an in-memory SQLite table with the book.
MemoryReading measureSqliteMemory(const BookSource& source);

// The program's start-up in a fresh process: the database file loaded into
// a set, then a search for the empty text listing every contact, its
// listing (lines, texts and keys) kept as the window keeps it.
struct StartupReading {
    double loadSeconds = 0.0;     // the load alone
    double startupSeconds = 0.0;  // the load, the search and the listing
    int64_t held = 0;             // bytes resident after the listing minus before the load
    int64_t contacts = 0;         // in the loaded set
    int64_t listed = 0;           // results of the search
};
StartupReading measureStartup(const std::string& dataPath);

// The peer of the start-up: a fresh process fills the SQLite table, then
// searches for the empty text and keeps the listing. `held` as above, the
// seconds are not measured (the table is filled from memory, not a file).
StartupReading measureSqliteStartup(const BookSource& source);

// Seconds a fresh process takes to read the whole file into memory.
double measureFreshRead(const std::string& path);

// The fresh process's side: argv[1] is kChildFlag. Prints one reading line
// on standard output.
int childMain(int argc, char** argv);

}  // namespace contavio::bench
