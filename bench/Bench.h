// The benchmark's runner: for each size, a generated book measured through
// the store and through its peer by each row of its table, one table row per
// measurement, then the rows that compare the sizes.
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
    std::string dir;                // empty: a temporary folder, removed at the end
    std::string book;               // not empty: this database file instead of generated books
    std::vector<std::string> rows;  // not empty: only the rows of these names
};

// Both sides of a comparison handed back different results.
class Mismatch : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Stops the run with Mismatch when two counts that must agree do not.
void expectSame(const std::string& what, int64_t got, int64_t expected);

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

    struct SizeContext;  // Rows.h

    void runSize(int64_t size);
    void runBook(const std::string& path);
    void measure(SizeContext& ctx);

    // The rows, each printing its table rows (StoreRows.cpp, VCardRows.cpp).
    void loadRow(SizeContext& ctx);
    void startupRows(SizeContext& ctx);
    void saveRow(SizeContext& ctx);
    void searchFivePercentRow(SizeContext& ctx);
    void searchAllRow(SizeContext& ctx);
    void heldSearchRow(SizeContext& ctx);
    void commitRows(SizeContext& ctx);
    void afterSearchRows(SizeContext& ctx);
    void searchAfterInsertRow(SizeContext& ctx);
    void vcardRows(SizeContext& ctx);
    void memoryRow(SizeContext& ctx);
    void startedMemoryRow(SizeContext& ctx);
    int64_t searchRow(SizeContext& ctx, const std::string& op, const std::string& text,
                      double limit100k, double limit1M);

    // The runs of one side of a row, or skipped when the sizes before say
    // that it would not fit in the budget.
    Samples side(const std::string& key, int64_t size, const RunOnce& once);
    std::string skippedCell() const { return bench::skippedCell(options_.budget); }
    void emitThroughputRow(const SizeContext& ctx, const std::string& op, const Samples& c,
                           const Samples& p, double bytes, std::optional<double> targetMBps);
    // Prints the row with its verdict and counts the verdict.
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
