#include "Peers.h"

#include <memory>

#include "Bench.h"
#include "PlainFiles.h"

namespace contavio::bench {

RunOnce loadPeer(const std::string& path, int64_t expectedBytes) {
    return [path, expectedBytes](Clock::time_point) -> std::optional<double> {
        int64_t bytes = 0;
        const double seconds = plainRead(path, bytes);
        expectSame("bytes of data.vlt read against its size", bytes, expectedBytes);
        return seconds;
    };
}

RunOnce savePeer(const std::string& path, const std::string& bytes) {
    return [path, &bytes](Clock::time_point) -> std::optional<double> {
        const double seconds = plainAtomicWrite(path, bytes);
        expectSame("bytes written by the plain save against those given",
                   static_cast<int64_t>(readWholeFile(path).size()),
                   static_cast<int64_t>(bytes.size()));
        return seconds;
    };
}

RunOnce exportPeer(const std::string& path, const std::string& bytes) {
    return [path, &bytes](Clock::time_point) -> std::optional<double> {
        return plainAtomicWrite(path, bytes);
    };
}

RunOnce importPeer(const std::string& path) {
    return [path](Clock::time_point) -> std::optional<double> {
        int64_t bytes = 0;
        return plainRead(path, bytes);
    };
}

RunOnce freshReadPeer(const std::string& path) {
    return [path](Clock::time_point) -> std::optional<double> { return measureFreshRead(path); };
}

RunOnce searchPeer(SqliteBook& db, const std::string& text, int64_t& count,
                   std::optional<SqlListing>& first) {
    return [&db, text, &count, &first](Clock::time_point) -> std::optional<double> {
        auto out = std::make_unique<SqlListing>();
        const auto start = Clock::now();
        const int64_t n = db.search(text, *out);
        const double seconds = secondsSince(start);
        count = n;
        if (!first) first = std::move(*out);
        return seconds;
    };
}

RunOnce heldSearchPeer(SqliteBook& db, SqlListing& held, const std::string& op, int64_t expected) {
    return [&db, &held, op, expected](Clock::time_point) -> std::optional<double> {
        const auto start = Clock::now();
        held = SqlListing{};
        const int64_t n = db.search("", held);
        const double seconds = secondsSince(start);
        expectSame(op + ": SQLite results against Contavio", n, expected);
        return seconds;
    };
}

RunOnce commitPeer(const std::vector<Contact>& book, int64_t expected) {
    return [&book, expected](Clock::time_point deadline) -> std::optional<double> {
        auto db = std::make_unique<SqliteBook>();
        const auto start = Clock::now();
        if (!db->insertAll(book, deadline)) return std::nullopt;
        const double seconds = secondsSince(start);
        expectSame("rows after the SQLite inserts against distinct keys of the book", db->count(),
                   expected);
        return seconds;
    };
}

MemoryReading memoryPeer(const BookSource& source, int64_t expected) {
    const MemoryReading sql = measureSqliteMemory(source);
    expectSame("rows filled by the memory process against distinct keys", sql.contacts, expected);
    return sql;
}

StartupReading startedMemoryPeer(const BookSource& source, int64_t expected) {
    const StartupReading sql = measureSqliteStartup(source);
    expectSame("rows filled by the start-up process against distinct keys", sql.contacts, expected);
    return sql;
}

}  // namespace contavio::bench
