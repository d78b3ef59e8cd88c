#include "SqliteBook.h"

#include <sqlite3.h>

#include <stdexcept>

namespace contavio::bench {

namespace {

constexpr const char* kCreate =
    "CREATE TABLE contacto ("
    " clave TEXT PRIMARY KEY, nombres TEXT, apellidos TEXT, direccion TEXT, web TEXT,"
    " dia TEXT, mes TEXT, notas TEXT, emails TEXT, telefonos TEXT)";

constexpr const char* kInsert =
    "INSERT OR REPLACE INTO contacto"
    " (clave, nombres, apellidos, direccion, web, dia, mes, notas, emails, telefonos)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";

// SQLite's upper() folds ASCII letters only, and its default collation
// compares bytes unsigned, shorter text first on a common prefix: the
// store's text order.
constexpr const char* kSearch =
    "SELECT nombres || ' ' || apellidos || ' ' || direccion || ' ' AS texto, clave"
    " FROM contacto"
    " WHERE nombres LIKE ?1 ESCAPE '\\' OR apellidos LIKE ?1 ESCAPE '\\'"
    " OR direccion LIKE ?1 ESCAPE '\\'"
    " ORDER BY upper(texto)";

std::string joinLines(const sVector& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += '\n';
        out += items[i];
    }
    return out;
}

std::string columnText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    const int bytes = sqlite3_column_bytes(stmt, column);
    return text ? std::string(text, static_cast<size_t>(bytes)) : std::string();
}

}  // namespace

SqliteBook::SqliteBook() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) fail("open");
    exec(kCreate);
    if (sqlite3_prepare_v2(db_, kInsert, -1, &insert_, nullptr) != SQLITE_OK) fail("prepare");
    if (sqlite3_prepare_v2(db_, kSearch, -1, &search_, nullptr) != SQLITE_OK) fail("prepare");
    if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM contacto", -1, &count_, nullptr) !=
        SQLITE_OK) {
        fail("prepare");
    }
}

SqliteBook::~SqliteBook() {
    sqlite3_finalize(insert_);
    sqlite3_finalize(search_);
    sqlite3_finalize(count_);
    sqlite3_close(db_);
}

void SqliteBook::fail(const char* what) {
    throw std::runtime_error(std::string("SQLite ") + what + ": " +
                             (db_ ? sqlite3_errmsg(db_) : "out of memory"));
}

void SqliteBook::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
}

bool SqliteBook::insertAll(const std::vector<Contact>& book, Clock::time_point deadline) {
    exec("BEGIN");
    size_t i = 0;
    std::string emails;
    std::string phones;
    for (const Contact& c : book) {
        if ((++i & 255) == 0 && Clock::now() > deadline) {
            exec("ROLLBACK");
            return false;
        }
        for (int f = 0; f < kStringFields; ++f) {
            const std::string& value = c.fields[static_cast<size_t>(f)];
            sqlite3_bind_text(insert_, f + 1, value.data(), static_cast<int>(value.size()),
                              SQLITE_STATIC);
        }
        emails = joinLines(c.emails);
        phones = joinLines(c.phones);
        sqlite3_bind_text(insert_, 9, emails.data(), static_cast<int>(emails.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(insert_, 10, phones.data(), static_cast<int>(phones.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(insert_) != SQLITE_DONE) fail("insert");
        sqlite3_reset(insert_);
    }
    exec("COMMIT");
    return true;
}

int64_t SqliteBook::count() {
    if (sqlite3_step(count_) != SQLITE_ROW) fail("count");
    const int64_t n = sqlite3_column_int64(count_, 0);
    sqlite3_reset(count_);
    return n;
}

int64_t SqliteBook::search(const std::string& text, SqlListing& out) {
    std::string pattern = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    pattern += '%';
    sqlite3_bind_text(search_, 1, pattern.data(), static_cast<int>(pattern.size()),
                      SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(search_)) == SQLITE_ROW) {
        out.texts.push_back(columnText(search_, 0));
        out.keys.push_back(columnText(search_, 1));
    }
    if (rc != SQLITE_DONE) fail("search");
    sqlite3_reset(search_);
    return static_cast<int64_t>(out.keys.size());
}

std::string SqliteBook::version() { return sqlite3_libversion(); }

}  // namespace contavio::bench
