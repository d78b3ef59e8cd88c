#include "SearchSolution.h"

#include <algorithm>

#include "basicOps.h"

namespace contavio {

namespace {

inline unsigned char upperAZ(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

}  // namespace

int compareSSolText(std::string_view a, std::string_view b) {
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

void SSol::append(std::string_view key, std::string_view text) {
    if (sorted && !items.empty() && compareSSolText(textOf(items.back()), text) > 0) sorted = false;
    items.push_back(Item{bytes.size(), static_cast<uint32_t>(key.size()),
                         static_cast<uint32_t>(text.size())});
    bytes.append(key);
    bytes.append(text);
    ++count;
}

void addSSol(SSol* sol, const std::string& key, const std::string& text) {
    sol->append(copyStr(key), copyStr(text));
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
                             [sol](const SSol::Item& a, const SSol::Item& b) {
                                 return compareSSolText(sol->textOf(a), sol->textOf(b)) < 0;
                             });
            sol->sorted = true;
        }
        texts.emplace();
        keys.emplace();
        texts->reserve(sol->items.size());
        keys->reserve(sol->items.size());
        for (const SSol::Item& item : sol->items) {
            texts->emplace_back(sol->textOf(item));
            keys->emplace_back(sol->keyOf(item));
            lines.add(texts->back());
        }
    }
    lines.endUpdate();
}

}  // namespace contavio
