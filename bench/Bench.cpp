#include "Bench.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "BookGenerator.h"
#include "Rows.h"
#include "SqliteBook.h"
#include "StoreOps.h"
#include "engine/Conjuntos.h"
#include "engine/FreeAside.h"

namespace contavio::bench {

void expectSame(const std::string& what, int64_t got, int64_t expected) {
    if (got != expected) {
        throw Mismatch(what + ": " + withSeparators(got) + " against " + withSeparators(expected));
    }
}

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

void Bench::emitThroughputRow(const SizeContext& ctx, const std::string& op, const Samples& c,
                              const Samples& p, double bytes, std::optional<double> targetMBps) {
    const JudgedRow judged =
        throughputRow(ctx.sizeCell, op, c, p, bytes, targetMBps, options_.budget);
    emit(judged.row, judged.met);
}

void Bench::emit(Row row, std::optional<bool> met) {
    row.verdict = verdictText(met);
    if (met) ++(*met ? met_ : notMet_);
    printRow(row);
}

void Bench::run() {
    printBenchHeader(RunDescription{SqliteBook::version(), options_.sizes, options_.book,
                                    options_.runs, options_.budget, options_.seed, dir_.dir()});
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
    printBenchLegend();
    printScaling();
}

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

    // The rows of one size, in the order they are printed, by the names
    // that --rows picks them by.
    static constexpr std::pair<const char*, void (Bench::*)(SizeContext&)> kRows[] = {
        {"load", &Bench::loadRow},
        {"start-up", &Bench::startupRows},
        {"save", &Bench::saveRow},
        {"search-5%", &Bench::searchFivePercentRow},
        {"search-all", &Bench::searchAllRow},
        {"held", &Bench::heldSearchRow},
        {"commit", &Bench::commitRows},
        {"after-search", &Bench::afterSearchRows},
        {"after-insert", &Bench::searchAfterInsertRow},
        {"vcard", &Bench::vcardRows},
        {"memory", &Bench::memoryRow},
        {"memory-started", &Bench::startedMemoryRow},
    };
    for (const auto& [name, row] : kRows) {
        const auto& only = options_.rows;
        if (only.empty() || std::find(only.begin(), only.end(), name) != only.end()) {
            (this->*row)(ctx);
        }
    }

    const int64_t matches = ctx.fivePercentMatches;
    if (matches >= 0) {
        std::printf("%10s  '%s' matched %s of %s contacts (%.1f%%)\n", "", kFivePercentFragment,
                    withSeparators(matches).c_str(), withSeparators(ctx.expected).c_str(),
                    100.0 * static_cast<double>(matches) / static_cast<double>(ctx.expected));
        std::fflush(stdout);
    }
    ctx.progress("freeing");
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
        // A row left out (--rows) at both sizes is not compared.
        if (!small->second.perContact.contains(op) && !large->second.perContact.contains(op))
            continue;
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
