// The rows of the record store against its peers: load, start-up, save,
// search, the held search, commit, the rows after a search and memory.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "Peers.h"
#include "Rows.h"

namespace contavio::bench {

// Load: data.vlt into an empty slot, against reading the file into memory.
void Bench::loadRow(SizeContext& ctx) {
    ctx.progress("load");
    const Samples c = side("load", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        auto store = std::make_unique<TConjuntos>(1);
        const auto start = Clock::now();
        store->loadCrypt(ctx.loadPath, kSlot, kCipherKey);
        const double seconds = secondsSince(start);
        expectSame("contacts loaded from data.vlt against distinct keys of the book",
                   setCount(*store), ctx.expected);
        return seconds;
    });
    const Samples p =
        side("load/peer", ctx.size, loadPeer(ctx.loadPath, static_cast<int64_t>(ctx.fileSize)));
    ctx.recordPerContact("load", c);
    emitThroughputRow(ctx, "load", c, p, ctx.fileSize, kLoadMBps);
}

// Save: the set over data.vlt through the store (atomic), against the same
// bytes written, synced and renamed over it. Saving the set that wrote
// data.vlt must give the same file again.
void Bench::saveRow(SizeContext& ctx) {
    ctx.progress("save");
    const Samples c = side("save", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        const auto start = Clock::now();
        ctx.base.saveCrypt(ctx.dataPath, kSlot, kCipherKey);
        const double seconds = secondsSince(start);
        const std::string saved = readWholeFile(ctx.dataPath);
        expectSame("bytes of the saved file against the first data.vlt",
                   static_cast<int64_t>(saved.size()), static_cast<int64_t>(ctx.dataBytes.size()));
        if (saved != ctx.dataBytes) {
            throw Mismatch("saving the same set twice gave files that differ");
        }
        return seconds;
    });
    const Samples p = side("save/peer", ctx.size, savePeer(ctx.dataPath, ctx.dataBytes));
    ctx.recordPerContact("save", c);
    emitThroughputRow(ctx, "save", c, p, static_cast<double>(ctx.dataBytes.size()), kSaveMBps);
}

// Search with listing, against SQLite with ORDER BY. Both sides must list
// the same contacts in the same order: texts equal once a-z are folded,
// since texts that compare equal may come in either order. Returns the
// number of results, or -1 when neither side ran.
int64_t Bench::searchRow(SizeContext& ctx, const std::string& op, const std::string& text,
                         double limit100k, double limit1M) {
    ctx.progress(op);
    std::optional<StoreListing> storeFirst;
    std::optional<SqlListing> sqlFirst;
    int64_t storeCount = -1;
    int64_t sqlCount = -1;
    const Samples c = side(op, ctx.size, [&](Clock::time_point) -> std::optional<double> {
        dropResults(ctx.base);
        auto out = std::make_unique<StoreListing>();
        const auto start = Clock::now();
        const int64_t n = searchAndList(ctx.base, text, *out);
        const double seconds = secondsSince(start);
        if (storeCount >= 0) expectSame(op + ": results of two runs", n, storeCount);
        storeCount = n;
        const int64_t listed = out->keys ? static_cast<int64_t>(out->keys->size()) : 0;
        expectSame(op + ": keys listed against resultCount", listed, n);
        expectSame(op + ": lines listed against resultCount",
                   static_cast<int64_t>(out->lines.lines.size()), std::max<int64_t>(n, 1));
        if (!storeFirst) storeFirst = std::move(*out);
        return seconds;
    });
    const Samples p =
        side(op + "/peer", ctx.size, searchPeer(ctx.searchDb, text, sqlCount, sqlFirst));
    if (storeFirst && sqlFirst) {
        expectSame(op + " '" + text + "': results of Contavio against SQLite", storeCount,
                   sqlCount);
        const sVector none;
        const sVector& texts = storeFirst->texts ? *storeFirst->texts : none;
        const sVector& keys = storeFirst->keys ? *storeFirst->keys : none;
        const auto folded = [](std::string s) {
            for (char& ch : s) {
                if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - ('a' - 'A'));
            }
            return s;
        };
        for (size_t i = 0; i < texts.size(); ++i) {
            if (folded(texts[i]) != folded(sqlFirst->texts[i])) {
                throw Mismatch(op + ": result " + std::to_string(i) + " differs in order: '" +
                               texts[i] + "' against '" + sqlFirst->texts[i] + "'");
            }
        }
        sVector a = keys;
        sVector b = sqlFirst->keys;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        if (a != b) throw Mismatch(op + ": the two sides found different contacts");
    }
    ctx.recordPerContact(op, c);

    const std::optional<double> r = ratio(c, p);
    std::optional<double> limit;
    if (ctx.size == kSize100k) limit = limit100k;
    if (ctx.size == kSize1M) limit = limit1M;
    std::string target = ">= " + std::to_string(std::lround(kSearchVsSqlite)) + "x";
    if (limit) target = "<= " + std::to_string(std::lround(*limit * 1e3)) + " ms, " + target;
    std::optional<bool> met;
    if (!c.measured()) {
        met = false;
    } else if (r) {
        met = *r >= kSearchVsSqlite && (!limit || c.median() <= *limit);
    }
    emit(Row{ctx.sizeCell, op, runsCell(c, p),
             c.measured() ? formatSeconds(c.median()) : skippedCell(),
             p.measured() ? formatSeconds(p.median()) : skippedCell(), spreadCell(c, p),
             formatRatio(r), target, ""},
         met);
    return std::max(storeCount, sqlCount);
}

// Search for a fragment found in about one contact in twenty; how many it
// found is printed under the rows of the size.
void Bench::searchFivePercentRow(SizeContext& ctx) {
    ctx.fivePercentMatches = searchRow(ctx, "search 5%", kFivePercentFragment, 5e-3, 50e-3);
}

// Search for the empty text: every contact found and listed.
void Bench::searchAllRow(SizeContext& ctx) { searchRow(ctx, "search all", "", 20e-3, 250e-3); }

// Commit: contacts added one by one into a new 256-bucket set and into the
// 1-bucket set of a file without contacts, against SQLite inserts.
void Bench::commitRows(SizeContext& ctx) {
    ctx.progress("commit (SQLite)");
    const Samples sql = side("commit/peer", ctx.size, commitPeer(ctx.book, ctx.expected));
    const auto perContactCell = [&](const Samples& s) {
        return s.measured() ? formatMicros(s.median() / static_cast<double>(ctx.size)) + "/contact"
                            : skippedCell();
    };
    for (const bool fromEmptyFile : {false, true}) {
        const std::string op = fromEmptyFile ? "commit 1 bucket" : "commit 256 buckets";
        ctx.progress(op);
        const Samples c =
            side(op, ctx.size, [&](Clock::time_point deadline) -> std::optional<double> {
                auto store = std::make_unique<TConjuntos>(1);
                if (fromEmptyFile) {
                    store->loadCrypt(ctx.emptyPath, kSlot, kCipherKey);
                    expectSame("contacts in the set loaded from empty.vlt", setCount(*store), 0);
                } else {
                    newContactSet(*store, 256);
                }
                const auto start = Clock::now();
                if (!commitContacts(*store, ctx.proto, ctx.book, deadline)) return std::nullopt;
                const double seconds = secondsSince(start);
                expectSame(op + ": contacts in the set against distinct keys of the book",
                           setCount(*store), ctx.expected);
                return seconds;
            });
        ctx.recordPerContact(op, c);
        const std::optional<double> r = ratio(c, sql);
        // The time per contact holds up to 1,000,000 contacts; the ratio always.
        const bool timed = ctx.size <= kSize1M;
        std::string target = ">= " + std::to_string(std::lround(kCommitVsSqlite)) + "x";
        if (timed) target = "<= " + std::to_string(std::lround(kCommitMicros)) + " us, " + target;
        std::optional<bool> met;
        if (!c.measured()) {
            met = false;
        } else if (r) {
            const double micros = c.median() / static_cast<double>(ctx.size) * 1e6;
            met = *r >= kCommitVsSqlite && (!timed || micros <= kCommitMicros);
        }
        emit(Row{ctx.sizeCell, op, runsCell(c, sql), perContactCell(c), perContactCell(sql),
                 spreadCell(c, sql), formatRatio(r), target, ""},
             met);
    }
}

// Commit and delete in a set loaded from data.vlt and then searched (the
// search leaves its cache, which the set keeps up to date), against the same
// in a set loaded the same way and never searched. Both sides add the same
// new contacts (some replace contacts of the book) and delete the same keys;
// loading and searching stay outside the timing.
void Bench::afterSearchRows(SizeContext& ctx) {
    const int64_t extra =
        std::min<int64_t>(kAfterSearchContacts, std::max<int64_t>(ctx.size / 10, 1));
    const std::vector<Contact> more = generateBook(extra, options_.seed + 1);
    sVector doomed;
    for (int64_t i = 0; i < extra; ++i)
        doomed.push_back(ctx.book[static_cast<size_t>(i)].fields[kFieldKey]);
    std::sort(doomed.begin(), doomed.end());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());

    const auto loaded = [&](bool searched) {
        auto store = std::make_unique<TConjuntos>(1);
        store->loadCrypt(ctx.loadPath, kSlot, kCipherKey);
        expectSame("contacts loaded from data.vlt against distinct keys of the book",
                   setCount(*store), ctx.expected);
        if (searched) {
            StoreListing out;
            searchAndList(*store, kFivePercentFragment, out);
        }
        return store;
    };
    const auto perContactCell = [&](const Samples& s, size_t n) {
        return s.measured() ? formatMicros(s.median() / static_cast<double>(n)) + "/contact"
                            : skippedCell();
    };
    const auto emitRow = [&](const std::string& op, const Samples& after, const Samples& before,
                             size_t n) {
        const std::optional<double> r = ratio(after, before);
        std::optional<bool> met;
        if (!after.measured()) {
            met = false;
        } else if (r) {
            met = *r >= 1.0 / kAfterSearchSlowdown;
        }
        emit(Row{ctx.sizeCell, op, runsCell(after, before), perContactCell(after, n),
                 perContactCell(before, n), spreadCell(after, before), formatRatio(r),
                 "<= " + formatRatio(kAfterSearchSlowdown) + " unsearched", ""},
             met);
    };

    int64_t countAfterCommit = -1;
    const auto commitSide = [&](bool searched) {
        const std::string key = searched ? "commit after search" : "commit before search";
        ctx.progress(key);
        return side(key, ctx.size,
                    [&, searched](Clock::time_point deadline) -> std::optional<double> {
                        auto store = loaded(searched);
                        const auto start = Clock::now();
                        if (!commitContacts(*store, ctx.proto, more, deadline)) return std::nullopt;
                        const double seconds = secondsSince(start);
                        if (countAfterCommit >= 0) {
                            expectSame(key + ": contacts against the other side", setCount(*store),
                                       countAfterCommit);
                        }
                        countAfterCommit = setCount(*store);
                        return seconds;
                    });
    };
    const Samples commitBefore = commitSide(false);
    const Samples commitAfter = commitSide(true);
    emitRow("commit, searched", commitAfter, commitBefore, more.size());

    const auto deleteSide = [&](bool searched) {
        const std::string key = searched ? "delete after search" : "delete before search";
        ctx.progress(key);
        return side(key, ctx.size, [&, searched](Clock::time_point) -> std::optional<double> {
            auto store = loaded(searched);
            const auto start = Clock::now();
            for (const std::string& k : doomed) store->delObj(kSlot, k);
            const double seconds = secondsSince(start);
            expectSame(key + ": contacts left", setCount(*store),
                       ctx.expected - static_cast<int64_t>(doomed.size()));
            return seconds;
        });
    };
    const Samples deleteBefore = deleteSide(false);
    const Samples deleteAfter = deleteSide(true);
    emitRow("delete, searched", deleteAfter, deleteBefore, doomed.size());
}

// The 5% search after one contact was added to a set loaded from data.vlt
// and searched once for every contact (the start-up's search, its cache
// not yet laid out), as the command line or a caller that edits after one
// search meets it; against the same search with no insertion before it.
// Loading, the first search and the insertion stay outside the timing.
void Bench::searchAfterInsertRow(SizeContext& ctx) {
    const std::vector<Contact> added = [&] {
        std::vector<Contact> one = generateBook(1, options_.seed + 2);
        one[0].fields[kFieldNames] = "Nuevo " + one[0].fields[kFieldNames];
        one[0].fields[kFieldKey] = one[0].fields[kFieldNames] + one[0].fields[kFieldSurnames];
        return one;
    }();
    int64_t found[2] = {-1, -1};
    const auto sideOf = [&](bool insert) {
        const std::string key = insert ? "search after insert" : "search, no insert";
        ctx.progress(key);
        return side(key, ctx.size, [&, insert](Clock::time_point) -> std::optional<double> {
            auto store = std::make_unique<TConjuntos>(1);
            store->loadCrypt(ctx.loadPath, kSlot, kCipherKey);
            StoreListing first;
            searchAndList(*store, "", first);
            if (insert) commitContacts(*store, ctx.proto, added, Clock::time_point::max());
            dropResults(*store);
            StoreListing out;
            const auto start = Clock::now();
            const int64_t n = searchAndList(*store, kFivePercentFragment, out);
            const double seconds = secondsSince(start);
            if (found[insert] >= 0) expectSame(key + ": results of two runs", n, found[insert]);
            found[insert] = n;
            return seconds;
        });
    };
    const Samples before = sideOf(false);
    const Samples after = sideOf(true);
    const std::optional<double> r = ratio(after, before);
    std::optional<bool> met;
    if (!after.measured()) {
        met = false;
    } else if (r) {
        met = *r >= 1.0 / kAfterSearchSlowdown;
    }
    const auto cell = [this](const Samples& s) {
        return s.measured() ? formatSeconds(s.median()) : skippedCell();
    };
    emit(Row{ctx.sizeCell, "search, 1 inserted", runsCell(after, before), cell(after), cell(before),
             spreadCell(after, before), formatRatio(r),
             "<= " + formatRatio(kAfterSearchSlowdown) + " none", ""},
         met);
}

// The program's start-up in a fresh process for every run: the load alone,
// and the load with the first search (the empty text, every contact listed),
// against a fresh process reading the same file into memory.
void Bench::startupRows(SizeContext& ctx) {
    ctx.progress("start-up in a fresh process");
    std::vector<double> loads;
    int64_t listed = -1;
    const Samples c = side("start-up", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        const StartupReading r = measureStartup(ctx.loadPath);
        expectSame("contacts loaded by the start-up process against distinct keys", r.contacts,
                   ctx.expected);
        if (listed >= 0) expectSame("start-up: results of two runs", r.listed, listed);
        listed = r.listed;
        loads.push_back(r.loadSeconds);
        if (!ctx.startup) ctx.startup = r;
        return r.startupSeconds;
    });
    const Samples p = side("fresh read", ctx.size, freshReadPeer(ctx.loadPath));
    Samples load;
    if (c.measured()) load.seconds = loads;
    load.skipped = !c.measured();
    emitThroughputRow(ctx, "load, fresh proc.", load, p, ctx.fileSize, std::nullopt);
    emitThroughputRow(ctx, "start-up, fresh", c, p, ctx.fileSize, std::nullopt);
}

// "Buscar" for every contact as the window runs it after start-up: the
// previous results and listing are still held, and what the search and the
// listing do with them is inside the timing. The peer frees its previous
// listing before it searches again.
void Bench::heldSearchRow(SizeContext& ctx) {
    const std::string op = "Buscar all, held";
    ctx.progress(op);
    StoreListing held;
    const int64_t expected = searchAndList(ctx.base, "", held);
    const Samples c = side(op, ctx.size, [&](Clock::time_point) -> std::optional<double> {
        const auto start = Clock::now();
        const int64_t n = searchAndList(ctx.base, "", held);
        const double seconds = secondsSince(start);
        expectSame(op + ": results against the first search", n, expected);
        return seconds;
    });
    SqlListing sqlHeld;
    ctx.searchDb.search("", sqlHeld);
    const Samples p =
        side(op + "/peer", ctx.size, heldSearchPeer(ctx.searchDb, sqlHeld, op, expected));
    // The search as the window meets it: the same ratio to SQLite as the others.
    const std::optional<double> r = ratio(c, p);
    std::optional<bool> met;
    if (!c.measured()) {
        met = false;
    } else if (r) {
        met = *r >= kSearchVsSqlite;
    }
    emit(Row{ctx.sizeCell, op, runsCell(c, p),
             c.measured() ? formatSeconds(c.median()) : skippedCell(),
             p.measured() ? formatSeconds(p.median()) : skippedCell(), spreadCell(c, p),
             formatRatio(r), ">= " + std::to_string(std::lround(kSearchVsSqlite)) + "x", ""},
         met);
}

// Memory: the growth of a fresh process around the load, against a fresh
// process filling the in-memory SQLite table.
void Bench::memoryRow(SizeContext& ctx) {
    ctx.progress("memory");
    const bool judged = ctx.size == kSize1M;
    Row row{ctx.sizeCell,
            "memory (peak)",
            "",
            "",
            "",
            "-",
            "-",
            judged ? "<= " + std::to_string(std::lround(kMemoryPerFileByte)) + "x file" : "-",
            ""};
    const auto tooSlow = [&](const std::string& op) {
        const auto predicted = extrapolator_.predict(op, ctx.size);
        return predicted && *predicted > options_.budget;
    };
    std::optional<MemoryReading> store;
    std::optional<MemoryReading> sql;
    if (tooSlow("load")) {
        row.contavio = skippedCell();
    } else {
        store = measureStoreMemory(ctx.loadPath);
        expectSame("contacts loaded by the memory process against distinct keys", store->contacts,
                   ctx.expected);
    }
    if (tooSlow("commit/peer")) {
        row.peer = skippedCell();
    } else {
        sql = memoryPeer(ctx.source, ctx.expected);
    }
    const auto cell = [&](const MemoryReading& m) {
        char text[64];
        std::snprintf(text, sizeof text, "%.0f B/c, %.2fx file%s",
                      static_cast<double>(m.growth) / static_cast<double>(m.contacts),
                      static_cast<double>(m.growth) / ctx.fileSize, m.peak ? "" : " (rss)");
        return std::string(text);
    };
    if (store) row.contavio = cell(*store);
    if (sql) row.peer = cell(*sql);
    if (store && sql && store->growth > 0) {
        row.ratio =
            formatRatio(static_cast<double>(sql->growth) / static_cast<double>(store->growth));
    }
    row.runs = std::string(store ? "1" : "0") + "/" + (sql ? "1" : "0");
    std::optional<bool> met;
    if (judged) {
        met = store && static_cast<double>(store->growth) <= kMemoryPerFileByte * ctx.fileSize;
    }
    emit(row, met);
}

// Memory as the window holds it after start-up: the set, the search cache
// of the first search and its listing, from the first start-up row's
// process; against a fresh process holding the SQLite table and the
// listing of the same search.
void Bench::startedMemoryRow(SizeContext& ctx) {
    ctx.progress("memory after start-up");
    Row row{ctx.sizeCell, "memory, started", "", "", "", "-", "-", "-", ""};
    const auto cell = [&](int64_t held, int64_t contacts) {
        char text[64];
        std::snprintf(text, sizeof text, "%.0f B/c, %.2fx file",
                      static_cast<double>(held) / static_cast<double>(contacts),
                      static_cast<double>(held) / ctx.fileSize);
        return std::string(text);
    };
    std::optional<StartupReading> sql;
    const auto predicted = extrapolator_.predict("commit/peer", ctx.size);
    if (predicted && *predicted > options_.budget) {
        row.peer = skippedCell();
    } else {
        sql = startedMemoryPeer(ctx.source, ctx.expected);
        row.peer = cell(sql->held, sql->contacts);
    }
    if (ctx.startup) {
        row.contavio = cell(ctx.startup->held, ctx.startup->contacts);
    } else {
        row.contavio = skippedCell();
    }
    if (ctx.startup && sql && ctx.startup->held > 0) {
        row.ratio =
            formatRatio(static_cast<double>(sql->held) / static_cast<double>(ctx.startup->held));
    }
    row.runs = std::string(ctx.startup ? "1" : "0") + "/" + (sql ? "1" : "0");
    emit(row, std::nullopt);
}

}  // namespace contavio::bench
