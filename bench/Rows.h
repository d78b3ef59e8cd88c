// What the rows of contavio_bench share: the targets the store is held to,
// the sizes at which they are judged, and everything the rows of one size
// work on. The row functions are Bench's (StoreRows.cpp, VCardRows.cpp);
// Bench::measure runs them in the order of its table.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Bench.h"
#include "BookGenerator.h"
#include "FreshProcess.h"
#include "SqliteBook.h"
#include "StoreOps.h"

namespace contavio::bench {

inline constexpr int64_t kSize100k = 100'000;
inline constexpr int64_t kSize1M = 1'000'000;

// Targets the store is held to.
inline constexpr double kLoadMBps = 300.0;
inline constexpr double kSaveMBps = 250.0;
inline constexpr double kSearchVsSqlite = 10.0;
inline constexpr double kCommitMicros = 2.0;
inline constexpr double kCommitVsSqlite = 3.0;
inline constexpr double kMemoryPerFileByte = 3.0;
inline constexpr double kScaling = 1.5;
inline constexpr double kAfterSearchSlowdown = 1.5;
// Contacts added and deleted by the rows that compare a searched set with an
// unsearched one (a tenth of smaller books).
inline constexpr int64_t kAfterSearchContacts = 10'000;

// Everything the rows of one size share.
struct Bench::SizeContext {
    int64_t size = 0;
    std::string sizeCell;
    std::vector<Contact> book;
    int64_t expected = 0;  // distinct keys: what a set or table built from the book holds
    TprotoData proto = contactProto();
    std::string dataPath;  // data.vlt as written from `base`: what the save rows write
    std::string loadPath;  // the file the load rows read: data.vlt, or the book asked for
    std::string emptyPath;
    std::string dataBytes;                  // data.vlt as written from `base`
    double fileSize = 0.0;                  // bytes of the file at loadPath
    BookSource source;                      // where the SQLite side's fresh processes get the book
    std::optional<StartupReading> startup;  // of the first start-up in a fresh process
    TConjuntos base{1};  // the book in a set with as many buckets as a loaded file gets
    SqliteBook searchDb;
    SizeResult* result = nullptr;
    int64_t fivePercentMatches = -1;  // results of the 5% search, -1 while it has not run

    void progress(const std::string& step) const {
        std::fprintf(stderr, "[%s] %s...\n", sizeCell.c_str(), step.c_str());
    }
    void recordPerContact(const std::string& op, const Samples& s) const {
        result->perContact[op] = s.measured()
                                     ? std::optional<double>(s.median() / static_cast<double>(size))
                                     : std::nullopt;
    }
};

}  // namespace contavio::bench
