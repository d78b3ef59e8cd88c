// The memory a loaded book takes, each reading made in a fresh process (this
// program started again with kMemoryChildFlag), so that what earlier
// measurements allocated and freed neither hides nor inflates the growth.
#pragma once

#include <cstdint>
#include <string>

namespace contavio::bench {

inline constexpr const char* kMemoryChildFlag = "--memory-child";

struct MemoryReading {
    int64_t growth = 0;    // bytes: peak resident during the load minus resident before
    int64_t contacts = 0;  // what the loaded set or table holds
    bool peak = true;      // false: the kernel would not reset the peak, resident growth only
};

// A fresh process loads the database file into a TConjuntos slot.
MemoryReading measureStoreMemory(const std::string& dataPath);
// A fresh process generates the book and fills an in-memory SQLite table.
MemoryReading measureSqliteMemory(int64_t size, uint64_t seed);

// The fresh process's side: argv[1] is kMemoryChildFlag. Prints one reading
// line on standard output.
int memoryChildMain(int argc, char** argv);

}  // namespace contavio::bench
