// The benchmark's table: one row per measurement, printed as soon as it is
// measured, the number formats and the cells its rows use, and the texts
// that open and close contavio_bench's table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Measure.h"

namespace contavio::bench {

struct Row {
    std::string size;
    std::string operation;
    std::string runs;  // "Contavio runs/peer runs"
    std::string contavio;
    std::string peer;
    std::string spread;  // "Contavio spread | peer spread", see formatSpread
    std::string ratio;   // peer / Contavio
    std::string target;
    std::string verdict;  // "met", "not met", or "-" where no target applies
};

void printTableHeader();
void printRow(const Row& row);
void printRule();

std::string withSeparators(int64_t value);             // 1,000,000
std::string formatSeconds(double seconds);             // 812 us, 4.21 ms, 1.30 s
std::string formatRate(double bytes, double seconds);  // 312 MB/s (MB = 10^6 bytes)
std::string formatMicros(double seconds);              // 1.25 us (per contact)
std::string formatMegabytes(double bytes);             // 12.3 MB
std::string formatRatio(std::optional<double> ratio);  // 12.5x, or "-"
// The fastest and the slowest of the runs against their median, in per cent:
// "-4/+12%"; "-" for fewer than two runs.
std::string formatSpread(const std::vector<double>& runs, double median);
std::string verdictText(std::optional<bool> met);  // met / not met / -

// The cells of a row comparing the runs of Contavio with those of its peer.
std::string runsCell(const Samples& contavio, const Samples& peer);  // "5/5"
std::string skippedCell(double budget);                              // "skipped: > 60 s"
std::string spreadCell(const Samples& contavio, const Samples& peer);
// peer / Contavio of the medians; none unless both sides were measured.
std::optional<double> ratio(const Samples& contavio, const Samples& peer);

// A row and its verdict: whether it met its target, none where none applies.
struct JudgedRow {
    Row row;
    std::optional<bool> met;
};

// A row of a side that moves `bytes`: each side's median with its rate,
// judged by Contavio's rate against targetMBps when there is one. A side
// that was not measured shows skippedCell(budget).
JudgedRow throughputRow(const std::string& size, const std::string& op, const Samples& contavio,
                        const Samples& peer, double bytes, std::optional<double> targetMBps,
                        double budget);

// What contavio_bench's opening lines say about the run.
struct RunDescription {
    std::string sqliteVersion;
    std::vector<int64_t> sizes;  // generated books, when book is empty
    std::string book;            // not empty: the database file measured
    int runs = 0;
    double budget = 0.0;
    uint64_t seed = 0;
    std::string dir;  // the work folder
};

// The lines above contavio_bench's table: the run, the peers and how the
// ratio and the runs read; the table's header not included.
void printBenchHeader(const RunDescription& run);
// The lines under the rows of every size: how the spread reads and what
// each row times.
void printBenchLegend();

}  // namespace contavio::bench
