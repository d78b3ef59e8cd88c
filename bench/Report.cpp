#include "Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "PlainFiles.h"

namespace contavio::bench {

namespace {

constexpr const char* kRowFormat = "%10s  %-18s  %-5s  %-24s  %-24s  %-20s  %8s  %-20s  %s\n";

std::string printed(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

void printTableHeader() {
    std::printf(kRowFormat, "size", "operation", "runs", "Contavio (median)", "peer (median)",
                "spread", "ratio", "target", "verdict");
}

void printRule() { std::printf("%s\n", std::string(156, '-').c_str()); }

void printRow(const Row& row) {
    std::printf(kRowFormat, row.size.c_str(), row.operation.c_str(), row.runs.c_str(),
                row.contavio.c_str(), row.peer.c_str(), row.spread.c_str(), row.ratio.c_str(),
                row.target.c_str(), row.verdict.c_str());
    std::fflush(stdout);
}

std::string withSeparators(int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return value < 0 ? "-" + out : out;
}

std::string formatSeconds(double seconds) {
    if (seconds < 1e-3) return printed("%.0f us", seconds * 1e6);
    if (seconds < 10e-3) return printed("%.2f ms", seconds * 1e3);
    if (seconds < 1.0) return printed("%.1f ms", seconds * 1e3);
    return printed("%.2f s", seconds);
}

std::string formatRate(double bytes, double seconds) {
    if (seconds <= 0.0) return "-";
    return printed("%.0f MB/s", bytes / seconds / 1e6);
}

std::string formatMicros(double seconds) {
    const double us = seconds * 1e6;
    return printed(us < 10.0 ? "%.2f us" : us < 100.0 ? "%.1f us" : "%.0f us", us);
}

std::string formatMegabytes(double bytes) { return printed("%.1f MB", bytes / 1e6); }

std::string formatRatio(std::optional<double> ratio) {
    if (!ratio) return "-";
    if (*ratio >= 10.0) return printed("%.1fx", *ratio);
    if (*ratio >= 0.1) return printed("%.2fx", *ratio);
    return printed("%.2gx", *ratio);  // two significant digits: 0.071x, 0.0012x
}

std::string formatSpread(const std::vector<double>& runs, double median) {
    if (runs.size() < 2 || median <= 0.0) return "-";
    const auto [low, high] = std::minmax_element(runs.begin(), runs.end());
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "-%.0f/+%.0f%%", (median - *low) / median * 100.0,
                  (*high - median) / median * 100.0);
    return buffer;
}

std::string verdictText(std::optional<bool> met) {
    if (!met) return "-";
    return *met ? "met" : "not met";
}

std::string runsCell(const Samples& contavio, const Samples& peer) {
    return std::to_string(contavio.measured() ? contavio.seconds.size() : 0) + "/" +
           std::to_string(peer.measured() ? peer.seconds.size() : 0);
}

std::string skippedCell(double budget) {
    char text[48];
    std::snprintf(text, sizeof text, "skipped: > %.0f s", budget);
    return text;
}

std::string spreadCell(const Samples& contavio, const Samples& peer) {
    const auto side = [](const Samples& s) {
        return s.measured() ? formatSpread(s.seconds, s.median()) : std::string("-");
    };
    return side(contavio) + " | " + side(peer);
}

std::optional<double> ratio(const Samples& contavio, const Samples& peer) {
    if (!contavio.measured() || !peer.measured() || contavio.median() <= 0.0) return std::nullopt;
    return peer.median() / contavio.median();
}

JudgedRow throughputRow(const std::string& size, const std::string& op, const Samples& c,
                        const Samples& p, double bytes, std::optional<double> targetMBps,
                        double budget) {
    const auto cell = [&](const Samples& s) {
        return s.measured() ? formatSeconds(s.median()) + ", " + formatRate(bytes, s.median())
                            : skippedCell(budget);
    };
    Row row{size,
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
    return {row, met};
}

void printBenchHeader(const RunDescription& run) {
    std::printf("Contavio record store against SQLite %s and plain file I/O\n",
                run.sqliteVersion.c_str());
    std::string sizes;
    for (int64_t n : run.sizes) {
        if (!sizes.empty()) sizes += ' ';
        sizes += withSeparators(n);
    }
    if (run.book.empty()) {
        std::printf(
            "sizes: %s generated contacts; up to %d runs per side, median and spread shown; "
            "budget %.0f s per row; seed %llu\n",
            sizes.c_str(), run.runs, run.budget, static_cast<unsigned long long>(run.seed));
    } else {
        std::printf(
            "book: %s; up to %d runs per side, median and spread shown; budget %.0f s per row; "
            "vCards to import generated with seed %llu\n",
            run.book.c_str(), run.runs, run.budget, static_cast<unsigned long long>(run.seed));
    }
    std::printf("files in %s (%s)\n", run.dir.c_str(), fileSystemName(run.dir).c_str());
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
}

void printBenchLegend() {
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
        "  search, 1 inserted   the 5%% search in a set loaded and searched for everything (as\n"
        "                       at start-up, not laid out since) after one contact was added\n"
        "                       (peer: the same search with no contact added)\n"
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

}  // namespace contavio::bench
