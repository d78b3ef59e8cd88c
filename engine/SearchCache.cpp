#include "SearchCache.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Worker.h"

namespace contavio {

namespace {

// How many entries on a walk in listing order fetches ahead.
constexpr size_t kFetchAhead = 16;

// Eight bytes of a text from `from` on, 'a'..'z' folded, as a big-endian
// number: comparing these compares that part of two texts in text order (a
// stored text holds no NUL, so the zero padding sorts a prefix first).
uint64_t foldedBytes(std::string_view text, size_t from) {
    uint64_t v = 0;
    for (size_t i = from; i < from + 8; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - ('a' - 'A'));
        v = (v << 8) | c;
    }
    return v;
}

inline unsigned char lowerAZ(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

char otherCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

// The first position p in [pos, n) where bytes[p] is a or b and
// bytes[p + gap] is c or d, or n. The caller keeps p + gap inside the bytes.
size_t findPair(const char* bytes, size_t pos, size_t n, char a, char b, size_t gap, char c,
                char d) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c), vd = _mm_set1_epi8(d);
    for (; pos + 16 <= n; pos += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + pos));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + pos + gap));
        const __m128i hit =
            _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)),
                          _mm_or_si128(_mm_cmpeq_epi8(y, vc), _mm_cmpeq_epi8(y, vd)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; pos < n; ++pos) {
        const char x = bytes[pos], y = bytes[pos + gap];
        if ((x == a || x == b) && (y == c || y == d)) return pos;
    }
    return n;
}

}  // namespace

SearchCache::SearchCache(const iVector& searchFields, const iVector& displayFields,
                         int32_t keyField)
    : searchFields_(searchFields), displayFields_(displayFields), keyField_(keyField) {}

bool SearchCache::add(nodoHash* node) {
    try {
        append(node);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void SearchCache::append(nodoHash* node) {
    const TElem& e = *node->elem;
    Entry entry{node->stamp, node, searchBytes_.size(), listBytes_.size(), node->bucket, 0};
    for (int32_t f : searchFields_) {
        searchBytes_ += e.str(f);
        searchBytes_ += '\0';
    }
    for (int32_t f : displayFields_) {
        listBytes_ += e.str(f);
        listBytes_ += ' ';
    }
    entry.displaySize = static_cast<uint32_t>(listBytes_.size() - entry.listAt);
    listBytes_ += '\0';
    listBytes_ += e.str(keyField_);
    listBytes_ += '\0';
    node->cacheEntry = entryBase_ + static_cast<uint32_t>(entries_.size());
    entries_.push_back(entry);
}

// The bytes that the entries of nodes[from, to) take in the search and list
// buffers, estimated from every 64th node with an eighth to spare: growing a
// buffer of many megabytes by doubling would copy it and touch its pages twice.
// Each sampled element counts for itself, and the others at the sample's
// typical size, in which no sampled element counts for more than four times
// the sample's median: a few large elements in the sample do not make every
// other one large. Whatever the sample, the estimate stays below 16 times
// what the entries take at the least (the sampled elements and the
// separators of the others); past it the buffers grow as they are filled.
std::pair<size_t, size_t> SearchCache::estimate(const std::vector<nodoHash*>& nodes, size_t from,
                                                size_t to) const {
    constexpr size_t kEvery = 64;
    constexpr size_t kMostPerLeast = 16;
    std::vector<size_t> search, list;
    for (size_t k = from; k < to; k += kEvery) {
        const TElem& e = *nodes[k]->elem;
        size_t s = 0, l = 2 + e.str(keyField_).size();
        for (int32_t f : searchFields_) s += e.str(f).size() + 1;
        for (int32_t f : displayFields_) l += e.str(f).size() + 1;
        search.push_back(s);
        list.push_back(l);
    }
    const size_t others = to - from - search.size();
    const auto bound = [&](std::vector<size_t>& sizes, size_t least) -> size_t {
        if (sizes.empty()) return 0;
        size_t sampled = 0, typical = 0;
        for (size_t s : sizes) sampled += s;
        std::nth_element(sizes.begin(), sizes.begin() + sizes.size() / 2, sizes.end());
        const size_t cap = 4 * sizes[sizes.size() / 2];
        for (size_t s : sizes) typical += std::min(s, cap);
        const size_t all = sampled + others * typical / sizes.size();
        return std::min(all + all / 8, kMostPerLeast * (sampled + others * least));
    };
    return {bound(search, searchFields_.size()), bound(list, displayFields_.size() + 2)};
}

void SearchCache::appendAll(const std::vector<nodoHash*>& nodes) {
    const size_t n = nodes.size();
    if (n < kWorthASecondThread) {
        for (nodoHash* node : nodes) append(node);
        return;
    }
    // Each thread into buffers of its own, joined after: this cache's own
    // have room for both halves, so the join copies the second half once.
    const size_t half = n / 2;
    SearchCache rest(searchFields_, displayFields_, keyField_);
    rest.entryBase_ = static_cast<uint32_t>(half);
    const auto [search, list] = estimate(nodes, 0, n);
    const auto [restSearch, restList] = estimate(nodes, half, n);
    searchBytes_.reserve(search);
    listBytes_.reserve(list);
    rest.searchBytes_.reserve(restSearch);
    rest.listBytes_.reserve(restList);
    entries_.reserve(n + n / 8);  // room for insertions before the next search
    rest.entries_.reserve(n - half);
    runBoth(
        [&] {
            for (size_t k = 0; k < half; ++k) append(nodes[k]);
        },
        [&] {
            for (size_t k = half; k < n; ++k) rest.append(nodes[k]);
        });
    join(rest);
}

// Takes over the entries of `rest`, whose nodes already count them as
// following this cache's own.
void SearchCache::join(const SearchCache& rest) {
    const size_t searchBase = searchBytes_.size();
    const size_t listBase = listBytes_.size();
    searchBytes_ += rest.searchBytes_;
    listBytes_ += rest.listBytes_;
    entries_.reserve(entries_.size() + rest.entries_.size());
    for (Entry entry : rest.entries_) {
        entry.searchAt += searchBase;
        entry.listAt += listBase;
        entries_.push_back(entry);
    }
    dead_ += rest.dead_;
}

bool SearchCache::refresh(const std::vector<const TElem*>& edited) {
    if (edited.empty()) return true;
    std::vector<nodoHash*> changed;
    for (const Entry& entry : entries_) {
        if (entry.node != nullptr &&
            std::binary_search(edited.begin(), edited.end(), entry.node->elem.get(),
                               std::less<const TElem*>())) {
            changed.push_back(entry.node);
        }
    }
    // Collected first: a drop may compact the entries.
    for (nodoHash* node : changed) {
        drop(node);
        if (!add(node)) return false;
    }
    return true;
}

void SearchCache::drop(nodoHash* node) {
    const uint32_t i = node->cacheEntry;
    node->cacheEntry = UINT32_MAX;
    if (i >= entries_.size() || entries_[i].node != node) return;
    entries_[i].node = nullptr;
    ++dead_;
    // Without a search in between, a set that keeps changing would grow its
    // cache for ever. Half of it dead: the cost of the copy is spread over
    // the drops that made it so.
    if (dead_ * 2 >= entries_.size()) compact();
}

// Lays out the live entries again: those in listing order in that order,
// then those that wait, which keep waiting.
void SearchCache::compact() {
    std::vector<uint32_t> keep;
    keep.reserve(entries_.size() - dead_);
    for (uint32_t i : order_) {
        if (entries_[i].node != nullptr) keep.push_back(i);
    }
    const size_t placedLive = keep.size();
    for (size_t i = placed_; i < entries_.size(); ++i) {
        if (entries_[i].node != nullptr) keep.push_back(static_cast<uint32_t>(i));
    }
    rebuild(keep);
    order_.resize(placedLive);
    placed_ = placedLive;
    laidOut_ = placedLive;
}

bool SearchCache::before(size_t a, size_t b) const {
    const int c = compareSSolText(displayOf(a), displayOf(b));
    if (c != 0) return c < 0;
    if (entries_[a].bucket != entries_[b].bucket) return entries_[a].bucket < entries_[b].bucket;
    return entries_[a].stamp > entries_[b].stamp;
}

// Copies the entries keep[from, to) into `into`, numbered from `from`.
void SearchCache::copyOut(const std::vector<uint32_t>& keep, size_t from, size_t to,
                          SearchCache& into) const {
    for (size_t k = from; k < to; ++k) {
        const uint32_t i = keep[k];
        Entry entry = entries_[i];
        entry.searchAt = into.searchBytes_.size();
        entry.listAt = into.listBytes_.size();
        into.searchBytes_.append(searchBytes_, entries_[i].searchAt,
                                 searchEnd(i) - entries_[i].searchAt);
        into.listBytes_.append(listBytes_, entries_[i].listAt, listEnd(i) - entries_[i].listAt);
        entry.node->cacheEntry = static_cast<uint32_t>(k);
        into.entries_.push_back(entry);
    }
}

// Lays the entries `keep` (live, in listing order) out again in that order
// and numbers them so, so that a listing reads the cache from front to back.
// Many are copied by two threads, each half into buffers of its own.
void SearchCache::rebuild(const std::vector<uint32_t>& keep) {
    const size_t n = keep.size();
    // Room for an eighth more, so that the insertions before the next
    // search do not copy a large cache to grow it (a sort lays it out anew
    // after that many anyway). Pages of room not yet written are seldom resident.
    const auto roomy = [](size_t size) { return size + size / 8 + 64; };
    SearchCache laid(searchFields_, displayFields_, keyField_);
    laid.searchBytes_.reserve(roomy(searchBytes_.size()));
    laid.listBytes_.reserve(roomy(listBytes_.size()));
    laid.entries_.reserve(roomy(n));
    if (n < kWorthASecondThread) {
        copyOut(keep, 0, n, laid);
    } else {
        const size_t half = n / 2;
        SearchCache rest(searchFields_, displayFields_, keyField_);
        rest.searchBytes_.reserve(searchBytes_.size() / 2 + searchBytes_.size() / 8);
        rest.listBytes_.reserve(listBytes_.size() / 2 + listBytes_.size() / 8);
        rest.entries_.reserve(n - half);
        runBoth([&] { copyOut(keep, 0, half, laid); }, [&] { copyOut(keep, half, n, rest); });
        laid.join(rest);
    }
    entries_.swap(laid.entries_);
    searchBytes_.swap(laid.searchBytes_);
    listBytes_.swap(laid.listBytes_);
    dead_ = 0;
    order_.resize(entries_.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<uint32_t>(i);
    placed_ = entries_.size();
    laidOut_ = entries_.size();
}

// The live entries among ids, in listing order: sorted on the first 32 bytes
// of their display texts, folded, and by `before` where those agree.
std::vector<uint32_t> SearchCache::sortedLive(std::vector<uint32_t> ids) const {
    struct Key {
        uint64_t head[4];
        uint32_t entry;
    };
    ids.erase(std::remove_if(ids.begin(), ids.end(),
                             [this](uint32_t i) { return entries_[i].node == nullptr; }),
              ids.end());
    const size_t n = ids.size();
    const auto keys = std::make_unique_for_overwrite<Key[]>(n);
    const auto less = [this](const Key& a, const Key& b) {
        for (int w = 0; w < 4; ++w) {
            if (a.head[w] != b.head[w]) return a.head[w] < b.head[w];
        }
        return before(a.entry, b.entry);
    };
    // Each thread makes the keys of its half and sorts them; the order is
    // total among live entries, so the two sorted halves merge into it.
    const auto sortRange = [&](size_t from, size_t to) {
        for (size_t k = from; k < to; ++k) {
            const std::string_view display = displayOf(ids[k]);
            keys[k] = Key{{foldedBytes(display, 0), foldedBytes(display, 8),
                           foldedBytes(display, 16), foldedBytes(display, 24)},
                          ids[k]};
        }
        std::sort(keys.get() + from, keys.get() + to, less);
    };
    if (n < kWorthASecondThread) {
        sortRange(0, n);
    } else {
        const size_t half = n / 2;
        runBoth([&] { sortRange(0, half); }, [&] { sortRange(half, n); });
        std::inplace_merge(keys.get(), keys.get() + half, keys.get() + n, less);
    }
    for (size_t k = 0; k < n; ++k) ids[k] = keys[k].entry;
    return ids;
}

// A cache sorted for the first time keeps its entries where they were made
// and lists through the order: the copy in listing order waits for the next
// search, or for settle, so that the first listing of a large set (a window
// opening its book) does not wait for it.
void SearchCache::sortAll() {
    std::vector<uint32_t> all(entries_.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint32_t>(i);
    std::vector<uint32_t> sorted = sortedLive(std::move(all));
    if (ordered_) {
        rebuild(sorted);
    } else {
        order_ = std::move(sorted);
        placed_ = entries_.size();
        laidOut_ = 0;
        ordered_ = true;
    }
}

void SearchCache::settle() {
    if (ordered_) tidy();
}

// Sorts the entries that wait and merges them into the listing order: a
// binary search each, and one pass that copies the order around them.
void SearchCache::placeWaiting() {
    std::vector<uint32_t> waiting;
    waiting.reserve(entries_.size() - placed_);
    for (size_t i = placed_; i < entries_.size(); ++i) waiting.push_back(static_cast<uint32_t>(i));
    waiting = sortedLive(std::move(waiting));
    std::vector<uint32_t> merged;
    merged.reserve(order_.size() + waiting.size());
    const auto less = [this](uint32_t a, uint32_t b) { return before(a, b); };
    auto from = order_.begin();
    for (uint32_t w : waiting) {
        const auto at = std::upper_bound(from, order_.end(), w, less);
        merged.insert(merged.end(), from, at);
        merged.push_back(w);
        from = at;
    }
    merged.insert(merged.end(), from, order_.end());
    order_.swap(merged);
    placed_ = entries_.size();
}

// Before a search: every entry in the listing order. Many that wait are
// sorted with the rest; when many have left, or many lie outside the layout
// in listing order, the cache is laid out afresh.
void SearchCache::tidy() {
    const size_t n = entries_.size();
    if (!ordered_ || (n - placed_) * 8 > n) {
        sortAll();
        return;
    }
    if (placed_ < n) placeWaiting();
    if (dead_ * 2 >= n || (n - laidOut_) * 8 > n) {
        std::vector<uint32_t> keep;
        keep.reserve(n - dead_);
        for (uint32_t i : order_) {
            if (entries_[i].node != nullptr) keep.push_back(i);
        }
        rebuild(keep);
    }
}

// One flag per entry: its element is there and one of its search fields
// contains pattern ('A'..'Z' folded).
std::vector<uint8_t> SearchCache::matches(std::string_view pattern) const {
    std::vector<uint8_t> hit(entries_.size(), 0);
    if (pattern.empty()) {
        // Every element with a non-empty search field; an empty value never matches.
        const size_t separators = searchFields_.size();
        for (size_t i = 0; i < entries_.size(); ++i) {
            hit[i] =
                entries_[i].node != nullptr && searchEnd(i) - entries_[i].searchAt > separators;
        }
        return hit;
    }
    std::string folded(pattern);
    for (char& c : folded) c = static_cast<char>(lowerAZ(static_cast<unsigned char>(c)));
    const size_t m = folded.size();
    const char first = folded[0], last = folded[m - 1];
    const char* bytes = searchBytes_.data();
    const size_t n = searchBytes_.size();
    if (m > n) return hit;
    const size_t starts = n - m + 1;  // positions where a match can begin
    size_t pos = 0;
    size_t entry = 0;  // the entry holding pos: matches come in rising order
    while (pos < starts) {
        // Candidates agree with the pattern's first and last bytes.
        pos = findPair(bytes, pos, starts, first, otherCase(first), m - 1, last, otherCase(last));
        if (pos >= starts) break;
        size_t k = 1;
        while (k + 1 < m && lowerAZ(static_cast<unsigned char>(bytes[pos + k])) ==
                                static_cast<unsigned char>(folded[k]))
            ++k;
        if (k + 1 < m) {
            ++pos;
            continue;
        }
        // A match never spans a value's end: the pattern holds no NUL.
        // Find its entry by galloping forward from the last one.
        size_t step = 1, lo = entry, hi = entry + 1;
        while (hi < entries_.size() && entries_[hi].searchAt <= pos) {
            lo = hi;
            hi += step;
            step *= 2;
        }
        hi = std::min(hi, entries_.size());
        entry = static_cast<size_t>(
                    std::upper_bound(entries_.begin() + static_cast<ptrdiff_t>(lo),
                                     entries_.begin() + static_cast<ptrdiff_t>(hi), pos,
                                     [](size_t p, const Entry& e) { return p < e.searchAt; }) -
                    entries_.begin()) -
                1;
        hit[entry] = entries_[entry].node != nullptr;
        pos = searchEnd(entry);  // one result per element
    }
    return hit;
}

std::unique_ptr<SSol> SearchCache::search(std::string_view pattern) {
    tidy();
    const std::vector<uint8_t> hit = matches(pattern);

    // The results in listing order. Where each one's key and text go in the
    // result's buffer is known before anything is copied, so that a large
    // result is copied by two threads.
    auto sol = newSSol();
    const size_t hits = static_cast<size_t>(std::count(hit.begin(), hit.end(), uint8_t{1}));
    std::vector<uint32_t> picked;
    picked.reserve(hits);
    sol->items.reserve(hits);
    size_t total = 0;
    // Until the cache is laid out in listing order (settle), the order
    // visits the entries at random: what comes a few entries on is fetched
    // ahead.
    for (size_t at = 0; at < order_.size(); ++at) {
        if (at + kFetchAhead < order_.size())
            __builtin_prefetch(&entries_[order_[at + kFetchAhead]]);
        const uint32_t i = order_[at];
        if (!hit[i]) continue;
        const std::string_view key = keyOf(i);
        const uint32_t textSize = entries_[i].displaySize;
        sol->items.push_back(SSol::Item{total, static_cast<uint32_t>(key.size()), textSize});
        picked.push_back(i);
        total += key.size() + textSize;
    }
    char* const bytes = sol->bytes.extend(total);
    const auto copy = [this, &sol, &picked, bytes](size_t from, size_t to) {
        for (size_t k = from; k < to; ++k) {
            if (k + kFetchAhead < to) {
                __builtin_prefetch(listBytes_.data() + entries_[picked[k + kFetchAhead]].listAt);
            }
            const SSol::Item& item = sol->items[k];
            const std::string_view key = keyOf(picked[k]);
            const std::string_view text = displayOf(picked[k]);
            // Every hit may be empty (no key, no display fields): then the
            // result's buffer is none, and nothing may be copied into it.
            if (key.size() + text.size() == 0) continue;
            std::memcpy(bytes + item.keyAt, key.data(), key.size());
            std::memcpy(bytes + item.keyAt + key.size(), text.data(), text.size());
        }
    };
    const size_t n = picked.size();
    if (n >= kWorthASecondThread) {
        runBoth([&] { copy(0, n / 2); }, [&] { copy(n / 2, n); });
    } else {
        copy(0, n);
    }
    sol->count = static_cast<int32_t>(n);
    sol->sorted = true;
    return sol;
}

}  // namespace contavio
