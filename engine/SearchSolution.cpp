#include "SearchSolution.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "FreeAside.h"
#include "Worker.h"
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
    items.push_back(
        Item{bytes.size(), static_cast<uint32_t>(key.size()), static_cast<uint32_t>(text.size())});
    bytes.append(key);
    bytes.append(text);
    ++count;
}

void addSSol(SSol* sol, const std::string& key, const std::string& text) {
    sol->append(copyStr(key), copyStr(text));
}

int32_t countSSol(const SSol* sol) { return sol->count; }

namespace {

// Empties a holder; a large array is freed off the caller's path.
void release(std::optional<sVector>& holder) {
    if (holder && holder->size() >= kWorthASecondThread) {
        freeAside(std::make_unique<sVector>(std::move(*holder)));
    }
    holder.reset();
}

// A holder's array with n entries for a new listing. The texts it already
// holds keep their storage and are overwritten, so that listing again as many
// results costs copies, not a heap block made and one freed per text; an
// array more than twice too large is released for a new one.
sVector& refilled(std::optional<sVector>& holder, size_t n) {
    if (holder && n < holder->size() / 2) release(holder);
    if (!holder) holder.emplace();
    holder->resize(n);
    return *holder;
}

}  // namespace

void listSSol(SSol* sol, LineList& lines, std::optional<sVector>& texts,
              std::optional<sVector>& keys) {
    lines.beginUpdate();
    lines.clear();
    if (sol->count == 0) {
        release(texts);
        release(keys);
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
        const size_t n = sol->items.size();
        sVector& textsOut = refilled(texts, n);
        if (n < kWorthASecondThread) {
            sVector& keysOut = refilled(keys, n);
            for (size_t k = 0; k < n; ++k) {
                textsOut[k].assign(sol->textOf(sol->items[k]));
                keysOut[k].assign(sol->keyOf(sol->items[k]));
                lines.add(textsOut[k]);
            }
        } else {
            // The lines go in on this thread, since a window's list may only
            // be touched by its own; the other thread makes the keys and half
            // of the texts.
            const size_t share = n / 2;
            runBoth(
                [&] {
                    for (size_t k = 0; k < share; ++k)
                        textsOut[k].assign(sol->textOf(sol->items[k]));
                    std::string line;
                    for (size_t k = 0; k < n; ++k) {
                        if (k < share) {
                            lines.add(textsOut[k]);
                        } else {
                            line.assign(sol->textOf(sol->items[k]));
                            lines.add(line);
                        }
                    }
                },
                [&] {
                    for (size_t k = share; k < n; ++k)
                        textsOut[k].assign(sol->textOf(sol->items[k]));
                    sVector& keysOut = refilled(keys, n);
                    for (size_t k = 0; k < n; ++k) keysOut[k].assign(sol->keyOf(sol->items[k]));
                });
        }
    }
    lines.endUpdate();
}

}  // namespace contavio
