// The peer side of each row of contavio_bench: what the store's operation is
// measured against. The timed peers hand back one run for Bench::side; the
// memory peers one reading of a fresh process. Each checks what it got
// against what the row expects and throws Mismatch when the two differ.
// What a returned run refers to (files' bytes, the book, the database, the
// row's out variables) must outlive it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BookGenerator.h"
#include "FreshProcess.h"
#include "Measure.h"
#include "SqliteBook.h"

namespace contavio::bench {

// load: the whole file read into memory with read(); expectedBytes is its size.
RunOnce loadPeer(const std::string& path, int64_t expectedBytes);

// save: the bytes written to a file beside path, fsync()ed and renamed over
// it; path must then hold as many bytes.
RunOnce savePeer(const std::string& path, const std::string& bytes);

// vCard export: the same write, fsync() and rename() of the exported bytes.
RunOnce exportPeer(const std::string& path, const std::string& bytes);

// vCard import: the file of cards read into memory.
RunOnce importPeer(const std::string& path);

// The start-up rows: a fresh process reading the whole file into memory.
RunOnce freshReadPeer(const std::string& path);

// search: SQLite's search for text with its listing into a new listing each
// run. count gets the results of the last run, first the listing of the
// first run, which the row compares with the store's.
RunOnce searchPeer(SqliteBook& db, const std::string& text, int64_t& count,
                   std::optional<SqlListing>& first);

// The held search: the previous listing freed, then SQLite's search for
// every contact; op names the row in a mismatch, expected is the store's
// number of results.
RunOnce heldSearchPeer(SqliteBook& db, SqlListing& held, const std::string& op, int64_t expected);

// commit: every contact of the book inserted into a new in-memory table,
// which then holds expected rows.
RunOnce commitPeer(const std::vector<Contact>& book, int64_t expected);

// memory (peak): a fresh process filling the SQLite table with expected rows.
MemoryReading memoryPeer(const BookSource& source, int64_t expected);

// memory, started: a fresh process holding the table of expected rows and
// the listing of a search for every contact.
StartupReading startedMemoryPeer(const BookSource& source, int64_t expected);

}  // namespace contavio::bench
