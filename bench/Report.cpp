#include "Report.h"

#include <algorithm>
#include <cstdio>

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

}  // namespace contavio::bench
