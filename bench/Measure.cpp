#include "Measure.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace contavio::bench {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Samples::median() const {
    if (seconds.empty()) return 0.0;
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    const size_t mid = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2.0;
}

namespace {

// Merges the chunks that the run before freed. glibc leaves small freed
// chunks unmerged until a later large allocation merges them all at once;
// without this, whichever run came next would pay, inside its timing, for
// its predecessor's teardown. mallopt merges the heap before it applies any
// setting; the setting given is the default one, so nothing else changes.
void settleHeap() { mallopt(M_MXFAST, 64 * sizeof(size_t) / 4); }

}  // namespace

Samples repeat(int maxRuns, double budget, const RunOnce& once) {
    Samples samples;
    const auto deadline = [budget] {
        return Clock::now() +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(budget));
    };
    settleHeap();
    const std::optional<double> first = once(deadline());
    if (!first) {
        samples.gaveUp = true;
        return samples;
    }
    samples.seconds.push_back(*first);
    int runs = maxRuns;
    if (*first > 0.0) {
        const double fit = std::floor(budget / 2.0 / *first);
        runs = static_cast<int>(std::clamp(fit, 1.0, static_cast<double>(maxRuns)));
    }
    for (int i = 1; i < runs; ++i) {
        settleHeap();
        const std::optional<double> t = once(deadline());
        if (!t) {
            // Slower than the first run by far: keep what was measured.
            break;
        }
        samples.seconds.push_back(*t);
    }
    return samples;
}

void Extrapolator::record(const std::string& operation, int64_t size, double seconds) {
    times_[operation].emplace_back(size, seconds);
}

void Extrapolator::recordGaveUp(const std::string& operation, int64_t size) {
    auto it = gaveUpAt_.find(operation);
    if (it == gaveUpAt_.end() || size < it->second) gaveUpAt_[operation] = size;
}

std::optional<double> Extrapolator::predict(const std::string& operation, int64_t size) const {
    if (auto it = gaveUpAt_.find(operation); it != gaveUpAt_.end() && size >= it->second) {
        return std::numeric_limits<double>::infinity();
    }
    const auto it = times_.find(operation);
    if (it == times_.end()) return std::nullopt;
    // The two largest sizes below this one.
    std::vector<std::pair<int64_t, double>> below;
    for (const auto& point : it->second) {
        if (point.first < size) below.push_back(point);
    }
    if (below.empty()) return std::nullopt;
    std::sort(below.begin(), below.end());
    const auto [n1, t1] = below.back();
    double exponent = 1.0;
    if (below.size() >= 2) {
        const auto [n0, t0] = below[below.size() - 2];
        if (n0 < n1 && t0 > 0.0 && t1 > 0.0) {
            exponent = std::log(t1 / t0) / std::log(static_cast<double>(n1) / n0);
            exponent = std::clamp(exponent, 1.0, 3.0);
        }
    }
    return t1 * std::pow(static_cast<double>(size) / n1, exponent);
}

}  // namespace contavio::bench
