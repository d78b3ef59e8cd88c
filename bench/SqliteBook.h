// The peer of the store's search and commit measurements: the same book in
// an in-memory SQLite database, one row per contact, the eight string fields
// as columns and the key as primary key. The e-mail and telephone lists are
// kept as two more columns, their items joined by line feeds, so that one
// contact is one row as it is one element in the store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BookGenerator.h"
#include "StoreOps.h"

struct sqlite3;
struct sqlite3_stmt;

namespace contavio::bench {

// What a search hands back: display texts and keys, in display order.
struct SqlListing {
    std::vector<std::string> texts;
    std::vector<std::string> keys;
};

class SqliteBook {
  public:
    // An empty in-memory database holding the contact table. Throws
    // std::runtime_error with SQLite's message on any failure.
    SqliteBook();
    ~SqliteBook();
    SqliteBook(const SqliteBook&) = delete;
    SqliteBook& operator=(const SqliteBook&) = delete;

    // INSERT OR REPLACE of every contact, one prepared statement, one
    // transaction. Gives up (rolling back) and returns false once `deadline`
    // has passed; the clock is read every 256 contacts.
    bool insertAll(const std::vector<Contact>& book, Clock::time_point deadline);
    int64_t count();

    // The contacts whose names, surnames or address contain text (LIKE, so
    // 'A'..'Z' and 'a'..'z' compare equal), ordered by their display text
    // with the ASCII letters folded, as the store orders its results.
    int64_t search(const std::string& text, SqlListing& out);

    static std::string version();

  private:
    void exec(const char* sql);
    [[noreturn]] void fail(const char* what);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* search_ = nullptr;
    sqlite3_stmt* count_ = nullptr;
};

}  // namespace contavio::bench
