// Timing and repetition for the benchmark rows, and the time budget that
// keeps slow rows from running for minutes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "StoreOps.h"

namespace contavio::bench {

double secondsSince(Clock::time_point start);

// The seconds of the runs of one side of a row.
struct Samples {
    std::vector<double> seconds;
    bool gaveUp = false;   // a run passed its deadline and was abandoned
    bool skipped = false;  // not run: the extrapolation said it would take too long
    double median() const;
    bool measured() const { return !gaveUp && !skipped && !seconds.empty(); }
};

// One run of a measurement: gets the deadline after which it should give up,
// returns its seconds, or none when it gave up.
using RunOnce = std::function<std::optional<double>(Clock::time_point deadline)>;

// Runs `once` up to maxRuns times. The first run decides how many follow:
// only as many as fit in half the budget. A run gives up at `budget` seconds.
Samples repeat(int maxRuns, double budget, const RunOnce& once);

// Remembers how long each operation took at each size and extrapolates to
// larger sizes, so that a row that would take longer than the budget is
// skipped instead of run.
class Extrapolator {
  public:
    void record(const std::string& operation, int64_t size, double seconds);
    // The operation gave up at this size; larger sizes will too.
    void recordGaveUp(const std::string& operation, int64_t size);
    // Seconds of one run at size, from the last two smaller sizes (their
    // growth exponent, at least linear) or the last one (linear); none
    // without data.
    std::optional<double> predict(const std::string& operation, int64_t size) const;

  private:
    std::map<std::string, std::vector<std::pair<int64_t, double>>> times_;
    std::map<std::string, int64_t> gaveUpAt_;
};

}  // namespace contavio::bench
