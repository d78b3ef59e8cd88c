#include "SearchSolution.h"

#include <algorithm>

#include "basicOps.h"

namespace contavio {

namespace {

inline unsigned char upperAZ(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

}  // namespace

int compareSSolText(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = upperAZ(static_cast<unsigned char>(a[i]));
        const unsigned char cb = upperAZ(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::unique_ptr<SSol> newSSol() { return std::make_unique<SSol>(); }

void addSSol(SSol* sol, const std::string& key, const std::string& text) {
    SSolData data{copyStr(key), copyStr(text)};
    if (sol->sorted && !sol->items.empty() && compareSSolText(sol->items.back().text, data.text) > 0) {
        sol->sorted = false;
    }
    sol->items.push_back(std::move(data));
    ++sol->count;
}

int32_t countSSol(const SSol* sol) { return sol->count; }

void listSSol(SSol* sol, LineList& lines, std::optional<sVector>& texts,
              std::optional<sVector>& keys) {
    lines.beginUpdate();
    lines.clear();
    texts.reset();
    keys.reset();
    if (sol->count == 0) {
        lines.add(kNoMatchesLine);
    } else {
        if (!sol->sorted) {
            // Stable: results with equal texts keep the order in which they came.
            std::stable_sort(sol->items.begin(), sol->items.end(),
                             [](const SSolData& a, const SSolData& b) {
                                 return compareSSolText(a.text, b.text) < 0;
                             });
            sol->sorted = true;
        }
        texts.emplace();
        keys.emplace();
        texts->reserve(sol->items.size());
        keys->reserve(sol->items.size());
        for (const SSolData& item : sol->items) {
            lines.add(item.text);
            texts->push_back(item.text);
            keys->push_back(item.key);
        }
    }
    lines.endUpdate();
}

}  // namespace contavio
