// The benchmark's table: one row per measurement, printed as soon as it is
// measured, and the number formats its cells use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace contavio::bench
