// The benchmark's rows: for each size, a generated book measured through
// the store and through its peer, one table row per measurement.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Measure.h"
#include "PlainFiles.h"
#include "Report.h"

namespace contavio::bench {

inline constexpr uint64_t kDefaultSeed = 20240853;

struct Options {
    std::vector<int64_t> sizes = {10'000, 100'000, 1'000'000};
    int runs = 5;
    double budget = 60.0;
    uint64_t seed = kDefaultSeed;
    std::string dir;   // empty: a temporary folder, removed at the end
    std::string book;  // not empty: this database file instead of generated books
};

// Both sides of a comparison handed back different results.
class Mismatch : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class Bench {
  public:
    Bench(const Options& options, const WorkDir& dir) : options_(options), dir_(dir) {}

    // Prints the header, the rows of every size and the scaling rows.
    // Throws Mismatch when the two sides of a row disagree.
    void run();
    int met() const { return met_; }
    int notMet() const { return notMet_; }

  private:
    struct SizeResult {
        // Seconds per generated contact of each timed operation, or none
        // when it was not measured at this size.
        std::map<std::string, std::optional<double>> perContact;
    };

    struct SizeContext;

    void runSize(int64_t size);
    void runBook(const std::string& path);
    void measure(SizeContext& ctx);
    void loadRow(const SizeContext& ctx);
    void startupRows(SizeContext& ctx);
    void saveRow(SizeContext& ctx);
    void emitThroughputRow(const SizeContext& ctx, const std::string& op, const Samples& c,
                           const Samples& p, double bytes, std::optional<double> targetMBps);
    int64_t searchRow(SizeContext& ctx, const std::string& op, const std::string& text,
                      double limit100k, double limit1M);
    void heldSearchRow(SizeContext& ctx);
    void commitRows(const SizeContext& ctx);
    void afterSearchRows(const SizeContext& ctx);
    void vcardRows(SizeContext& ctx);
    void memoryRow(const SizeContext& ctx);
    void startedMemoryRow(const SizeContext& ctx);
    void printLegend();
    Samples side(const std::string& key, int64_t size, const RunOnce& once);
    std::string runsCell(const Samples& contavio, const Samples& peer) const;
    std::string skippedCell() const;
    std::string spreadCell(const Samples& contavio, const Samples& peer) const;
    std::optional<double> ratio(const Samples& contavio, const Samples& peer) const;
    void emit(Row row, std::optional<bool> met);
    void printScaling();

    const Options& options_;
    const WorkDir& dir_;
    Extrapolator extrapolator_;
    std::map<int64_t, SizeResult> results_;
    int met_ = 0;
    int notMet_ = 0;
};

}  // namespace contavio::bench
