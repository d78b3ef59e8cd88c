#include "Bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "BookGenerator.h"
#include "FreshProcess.h"
#include "SqliteBook.h"
#include "StoreOps.h"
#include "VCardOps.h"
#include "engine/Conjuntos.h"
#include "engine/FreeAside.h"

namespace contavio::bench {

namespace {

constexpr int64_t kSize100k = 100'000;
constexpr int64_t kSize1M = 1'000'000;

// Targets the store is held to.
constexpr double kLoadMBps = 300.0;
constexpr double kSaveMBps = 250.0;
constexpr double kSearchVsSqlite = 10.0;
constexpr double kCommitMicros = 2.0;
constexpr double kCommitVsSqlite = 3.0;
constexpr double kMemoryPerFileByte = 3.0;
constexpr double kScaling = 1.5;
constexpr double kAfterSearchSlowdown = 1.5;
// Contacts added and deleted by the rows that compare a searched set with an
// unsearched one (a tenth of smaller books).
constexpr int64_t kAfterSearchContacts = 10'000;

// Stops the run when two counts that must agree do not.
void expectSame(const std::string& what, int64_t got, int64_t expected) {
    if (got != expected) {
        throw Mismatch(what + ": " + withSeparators(got) + " against " + withSeparators(expected));
    }
}

}  // namespace

Samples Bench::side(const std::string& key, int64_t size, const RunOnce& once) {
    if (const auto predicted = extrapolator_.predict(key, size);
        predicted && *predicted > options_.budget) {
        extrapolator_.recordGaveUp(key, size);
        Samples skipped;
        skipped.skipped = true;
        return skipped;
    }
    // Freeing left over from the row before would share the machine with this one.
    finishFreeingAside();
    Samples samples = repeat(options_.runs, options_.budget, once);
    if (samples.gaveUp) {
        extrapolator_.recordGaveUp(key, size);
    } else {
        extrapolator_.record(key, size, samples.median());
    }
    return samples;
}

std::string Bench::runsCell(const Samples& contavio, const Samples& peer) const {
    return std::to_string(contavio.measured() ? contavio.seconds.size() : 0) + "/" +
           std::to_string(peer.measured() ? peer.seconds.size() : 0);
}

std::string Bench::skippedCell() const {
    char text[48];
    std::snprintf(text, sizeof text, "skipped: > %.0f s", options_.budget);
    return text;
}

std::string Bench::spreadCell(const Samples& contavio, const Samples& peer) const {
    const auto side = [](const Samples& s) {
        return s.measured() ? formatSpread(s.seconds, s.median()) : std::string("-");
    };
    return side(contavio) + " | " + side(peer);
}

std::optional<double> Bench::ratio(const Samples& contavio, const Samples& peer) const {
    if (!contavio.measured() || !peer.measured() || contavio.median() <= 0.0) return std::nullopt;
    return peer.median() / contavio.median();
}

void Bench::emit(Row row, std::optional<bool> met) {
    row.verdict = verdictText(met);
    if (met) ++(*met ? met_ : notMet_);
    printRow(row);
}

void Bench::run() {
    std::printf("Contavio record store against SQLite %s and plain file I/O\n",
                SqliteBook::version().c_str());
    std::string sizes;
    for (int64_t n : options_.sizes) {
        if (!sizes.empty()) sizes += ' ';
        sizes += withSeparators(n);
    }
    if (options_.book.empty()) {
        std::printf(
            "sizes: %s generated contacts; up to %d runs per side, median and spread shown; "
            "budget %.0f s per row; seed %llu\n",
            sizes.c_str(), options_.runs, options_.budget,
            static_cast<unsigned long long>(options_.seed));
    } else {
        std::printf(
            "book: %s; up to %d runs per side, median and spread shown; budget %.0f s per row; "
            "vCards to import generated with seed %llu\n",
            options_.book.c_str(), options_.runs, options_.budget,
            static_cast<unsigned long long>(options_.seed));
    }
    std::printf("files in %s (%s)\n", dir_.dir().c_str(), fileSystemName(dir_.dir()).c_str());
    std::printf(
        "peers: load - read() of the same file into memory; save - write(), fsync() and\n"
        "       rename() of the same bytes; search, commit, memory - SQLite in memory, one row\n"
        "       per contact, key as primary key, LIKE on the three search fields, ORDER BY\n"
        "       upper() of the display text; commit, delete searched - the same in a set\n"
        "       loaded from data.vlt and never searched\n"
        "memory: growth of the peak resident size of a fresh process while it loads data.vlt\n"
        "       (SQLite: while it fills the table), per contact in the set (B/c) and against\n"
        "       the size of data.vlt\n");
    std::printf(
        "ratio = peer / Contavio (time, or bytes for memory): above 1 means Contavio is\n"
        "faster (or smaller). runs = Contavio runs/peer runs; fewer than asked where the\n"
        "first run showed that all would not fit in half the budget.\n\n");
    printTableHeader();

    // A file holding the contact set without contacts: it loads as a 1-bucket set.
    {
        TConjuntos empty(1);
        newContactSet(empty, 256);
        empty.saveCrypt(dir_.path("empty.vlt"), kSlot, kCipherKey);
    }
    if (options_.book.empty()) {
        for (int64_t size : options_.sizes) runSize(size);
    } else {
        runBook(options_.book);
    }
    printLegend();
    printScaling();
}

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

    void progress(const std::string& step) const {
        std::fprintf(stderr, "[%s] %s...\n", sizeCell.c_str(), step.c_str());
    }
    void recordPerContact(const std::string& op, const Samples& s) const {
        result->perContact[op] = s.measured()
                                     ? std::optional<double>(s.median() / static_cast<double>(size))
                                     : std::nullopt;
    }
};

void Bench::runSize(int64_t size) {
    SizeContext ctx;
    ctx.size = size;
    ctx.sizeCell = withSeparators(size);
    ctx.dataPath = dir_.path("data.vlt");
    ctx.loadPath = ctx.dataPath;
    ctx.emptyPath = dir_.path("empty.vlt");
    ctx.source = BookSource{size, options_.seed, ""};
    ctx.result = &results_[size];

    ctx.progress("generating the book");
    ctx.book = generateBook(size, options_.seed);
    measure(ctx);
}

// The rows of a database file of the user's own: the load rows read that
// file; the other rows work on the same contacts in a set of its own, which
// the save rows write to the work folder.
void Bench::runBook(const std::string& path) {
    SizeContext ctx;
    ctx.dataPath = dir_.path("data.vlt");
    ctx.loadPath = path;
    ctx.emptyPath = dir_.path("empty.vlt");
    ctx.source = BookSource{0, 0, path};
    std::fprintf(stderr, "reading %s...\n", path.c_str());
    {
        TConjuntos store(1);
        store.loadCrypt(path, kSlot, kCipherKey);
        if (store.isEmpty(kSlot)) throw std::runtime_error(path + " holds no contact set");
        ctx.book = contactsOf(store);
    }
    ctx.size = static_cast<int64_t>(ctx.book.size());
    ctx.sizeCell = withSeparators(ctx.size);
    ctx.result = &results_[ctx.size];
    measure(ctx);
}

void Bench::measure(SizeContext& ctx) {
    const int64_t size = ctx.size;
    ctx.expected = distinctKeys(ctx.book);

    // data.vlt is written once, from the set that the save rows save again.
    ctx.progress("building the set and data.vlt");
    newContactSet(ctx.base, static_cast<int32_t>(2 * size + 1));
    commitContacts(ctx.base, ctx.proto, ctx.book, Clock::time_point::max());
    expectSame("contacts in the set built from the book against its distinct keys",
               setCount(ctx.base), ctx.expected);
    ctx.base.saveCrypt(ctx.dataPath, kSlot, kCipherKey);
    ctx.dataBytes = readWholeFile(ctx.dataPath);
    ctx.fileSize = ctx.loadPath == ctx.dataPath
                       ? static_cast<double>(ctx.dataBytes.size())
                       : static_cast<double>(readWholeFile(ctx.loadPath).size());

    ctx.progress("filling the SQLite table");
    ctx.searchDb.insertAll(ctx.book, Clock::time_point::max());
    expectSame("rows in the SQLite table against contacts in the set", ctx.searchDb.count(),
               ctx.expected);

    printRule();
    std::printf("%10s  book: %s contacts in the set (%s keys collided), %s %s\n",
                ctx.sizeCell.c_str(), withSeparators(ctx.expected).c_str(),
                withSeparators(size - ctx.expected).c_str(),
                ctx.loadPath == ctx.dataPath ? "data.vlt" : ctx.loadPath.c_str(),
                formatMegabytes(ctx.fileSize).c_str());
    std::fflush(stdout);

    loadRow(ctx);
    startupRows(ctx);
    saveRow(ctx);
    const int64_t matches = searchRow(ctx, "search 5%", kFivePercentFragment, 5e-3, 50e-3);
    searchRow(ctx, "search all", "", 20e-3, 250e-3);
    heldSearchRow(ctx);
    commitRows(ctx);
    afterSearchRows(ctx);
    vcardRows(ctx);
    memoryRow(ctx);
    startedMemoryRow(ctx);

    if (matches >= 0) {
        std::printf("%10s  '%s' matched %s of %s contacts (%.1f%%)\n", "", kFivePercentFragment,
                    withSeparators(matches).c_str(), withSeparators(ctx.expected).c_str(),
                    100.0 * static_cast<double>(matches) / static_cast<double>(ctx.expected));
        std::fflush(stdout);
    }
    ctx.progress("freeing");
}

// Load: data.vlt into an empty slot, against reading the file into memory.
void Bench::loadRow(const SizeContext& ctx) {
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
    const Samples p = side("load/peer", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        int64_t bytes = 0;
        const double seconds = plainRead(ctx.loadPath, bytes);
        expectSame("bytes of data.vlt read against its size", bytes,
                   static_cast<int64_t>(ctx.fileSize));
        return seconds;
    });
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
    const Samples p = side("save/peer", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        const double seconds = plainAtomicWrite(ctx.dataPath, ctx.dataBytes);
        expectSame("bytes written by the plain save against those given",
                   static_cast<int64_t>(readWholeFile(ctx.dataPath).size()),
                   static_cast<int64_t>(ctx.dataBytes.size()));
        return seconds;
    });
    ctx.recordPerContact("save", c);
    emitThroughputRow(ctx, "save", c, p, static_cast<double>(ctx.dataBytes.size()), kSaveMBps);
}

void Bench::emitThroughputRow(const SizeContext& ctx, const std::string& op, const Samples& c,
                              const Samples& p, double bytes, std::optional<double> targetMBps) {
    const auto cell = [&](const Samples& s) {
        return s.measured() ? formatSeconds(s.median()) + ", " + formatRate(bytes, s.median())
                            : skippedCell();
    };
    Row row{ctx.sizeCell,
            op,
            runsCell(c, p),
            cell(c),
            cell(p),
            spreadCell(c, p),
            formatRatio(ratio(c, p)),
            targetMBps ? ">= " + std::to_string(std::lround(*targetMBps)) + " MB/s" : "-",
            ""};
    std::optional<bool> met;
    if (targetMBps) met = c.measured() && bytes / c.median() / 1e6 >= *targetMBps;
    emit(row, met);
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
    const Samples p = side(op + "/peer", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        auto out = std::make_unique<SqlListing>();
        const auto start = Clock::now();
        const int64_t n = ctx.searchDb.search(text, *out);
        const double seconds = secondsSince(start);
        sqlCount = n;
        if (!sqlFirst) sqlFirst = std::move(*out);
        return seconds;
    });
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

// Commit: contacts added one by one into a new 256-bucket set and into the
// 1-bucket set of a file without contacts, against SQLite inserts.
void Bench::commitRows(const SizeContext& ctx) {
    ctx.progress("commit (SQLite)");
    const Samples sql =
        side("commit/peer", ctx.size, [&](Clock::time_point deadline) -> std::optional<double> {
            auto db = std::make_unique<SqliteBook>();
            const auto start = Clock::now();
            if (!db->insertAll(ctx.book, deadline)) return std::nullopt;
            const double seconds = secondsSince(start);
            expectSame("rows after the SQLite inserts against distinct keys of the book",
                       db->count(), ctx.expected);
            return seconds;
        });
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
void Bench::afterSearchRows(const SizeContext& ctx) {
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
    const Samples p = side("fresh read", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        return measureFreshRead(ctx.loadPath);
    });
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
    const Samples p = side(op + "/peer", ctx.size, [&](Clock::time_point) -> std::optional<double> {
        const auto start = Clock::now();
        sqlHeld = SqlListing{};
        const int64_t n = ctx.searchDb.search("", sqlHeld);
        const double seconds = secondsSince(start);
        expectSame(op + ": SQLite results against Contavio", n, expected);
        return seconds;
    });
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

// The window's "Exportar vCard..." of the whole book (exportBook, then the
// atomic write), against a plain atomic write of the same bytes; and its
// "Importar vCard..." of a file of cards for a tenth of the book (the file
// read and its cards parsed, then importCards) into a set loaded and
// searched as start-up leaves it, against a plain read of the same file.
void Bench::vcardRows(SizeContext& ctx) {
    ctx.progress("vCard export");
    const std::string exportPath = dir_.path("book.vcf");
    std::string exported;
    const Samples ce =
        side("vcard export", ctx.size, [&](Clock::time_point) -> std::optional<double> {
            VCardExportRun run = exportToFile(ctx.base, exportPath);
            expectSame("vCard export: cards against contacts in the set", run.count, ctx.expected);
            if (exported.empty()) {
                exported = std::move(run.text);
            } else if (exported != run.text) {
                throw Mismatch("exporting the same book twice gave files that differ");
            }
            return run.seconds;
        });
    Samples pe;
    pe.skipped = true;
    if (!exported.empty()) {
        pe = side("vcard export/peer", ctx.size, [&](Clock::time_point) -> std::optional<double> {
            return plainAtomicWrite(exportPath, exported);
        });
    }
    emitThroughputRow(ctx, "vCard export", ce, pe, static_cast<double>(exported.size()),
                      std::nullopt);
    exported = std::string();

    ctx.progress("vCard import");
    const int64_t n = std::max<int64_t>(ctx.size / 10, 1);
    const std::string cardsPath = dir_.path("cards.vcf");
    int cards = 0;
    {
        TConjuntos source(1);
        newContactSet(source, static_cast<int32_t>(2 * n + 1));
        commitContacts(source, ctx.proto, generateBook(n, options_.seed + 2),
                       Clock::time_point::max());
        cards = exportToFile(source, cardsPath).count;
    }
    const double cardBytes = static_cast<double>(readWholeFile(cardsPath).size());
    std::optional<VCardImportRun> first;
    const Samples ci =
        side("vcard import", ctx.size, [&](Clock::time_point) -> std::optional<double> {
            auto store = std::make_unique<TConjuntos>(1);
            store->loadCrypt(ctx.loadPath, kSlot, kCipherKey);
            auto listing = std::make_unique<StoreListing>();
            searchAndList(*store, "", *listing);
            const VCardImportRun run = importFromFile(*store, cardsPath);
            expectSame("vCard import: cards handled against cards in the file",
                       run.added + run.merged + run.unchanged, cards);
            if (first)
                expectSame("vCard import: contacts added in two runs", run.added, first->added);
            if (!first) first = run;
            return run.seconds;
        });
    const Samples pi =
        side("vcard import/peer", ctx.size, [&](Clock::time_point) -> std::optional<double> {
            int64_t bytes = 0;
            return plainRead(cardsPath, bytes);
        });
    emitThroughputRow(ctx, "vCard import 10%", ci, pi, cardBytes, std::nullopt);
    if (first) {
        std::printf("%10s  vCard import: %s cards, %s added, %s merged, %s unchanged\n", "",
                    withSeparators(cards).c_str(), withSeparators(first->added).c_str(),
                    withSeparators(first->merged).c_str(),
                    withSeparators(first->unchanged).c_str());
        std::fflush(stdout);
    }
}

// Memory: the growth of a fresh process around the load, against a fresh
// process filling the in-memory SQLite table.
void Bench::memoryRow(const SizeContext& ctx) {
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
        sql = measureSqliteMemory(ctx.source);
        expectSame("rows filled by the memory process against distinct keys", sql->contacts,
                   ctx.expected);
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
void Bench::startedMemoryRow(const SizeContext& ctx) {
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
        sql = measureSqliteStartup(ctx.source);
        expectSame("rows filled by the start-up process against distinct keys", sql->contacts,
                   ctx.expected);
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

void Bench::printLegend() {
    std::printf(
        "\nspread: the fastest and the slowest run against the median, Contavio | peer:\n"
        "       \"-4/+12%%\" is 4%% under it and 12%% over it; - for fewer than 2 runs\n"
        "rows:\n"
        "  load, save           in this process, with its heap as the rows before left it\n"
        "  load, fresh proc.    the load alone, in a new process for every run (peer: a new\n"
        "                       process reading the same file)\n"
        "  start-up, fresh      the load, a search for the empty text and its listing of\n"
        "                       every contact, as the window starts, in a new process for\n"
        "                       every run (peer: as above)\n"
        "  search 5%%, all       the previous results freed before the timing\n"
        "  Buscar all, held     a search for everything while the previous one's results and\n"
        "                       listing are held, as in the window after start-up: whatever\n"
        "                       is done with them (listed over, or handed to the freeing\n"
        "                       thread) is inside the timing (SQLite: its listing freed)\n"
        "  vCard export         exportBook of every contact (4.0) and the atomic write of the\n"
        "                       file (peer: write, fsync and rename of the same bytes)\n"
        "  vCard import 10%%     cards for a tenth of the book read from their file, parsed and\n"
        "                       merged with importCards into a set loaded and searched as at\n"
        "                       start-up (peer: a read of the same file)\n"
        "  memory (peak)        peak growth of a new process while it loads the file\n"
        "  memory, started      resident growth of the start-up process once its listing is\n"
        "                       held: set, search cache and listing (SQLite: table and listing)\n");
    std::fflush(stdout);
}

void Bench::printScaling() {
    const auto small = results_.find(kSize100k);
    const auto large = results_.find(kSize1M);
    if (small == results_.end() || large == results_.end()) return;
    std::printf(
        "\nper-contact time at 1,000,000 against 100,000 (ratio = 1,000,000 / 100,000; "
        "target <= 1.5x)\n");
    printRule();
    for (const char* op :
         {"load", "save", "search 5%", "search all", "commit 256 buckets", "commit 1 bucket"}) {
        const std::optional<double> a = small->second.perContact[op];
        const std::optional<double> b = large->second.perContact[op];
        Row row{"1M/100k",
                op,
                "",
                a ? formatMicros(*a) + "/contact" : "not measured",
                b ? formatMicros(*b) + "/contact" : "not measured",
                "-",
                "-",
                "<= " + formatRatio(kScaling),
                ""};
        std::optional<bool> met = false;
        if (a && b && *a > 0.0) {
            row.ratio = formatRatio(*b / *a);
            met = *b / *a <= kScaling;
        }
        emit(row, met);
    }
}

}  // namespace contavio::bench
