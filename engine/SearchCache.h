// The search cache of a keyed hash set: a copy of what searches read, for
// every element of the set, so that a search scans one buffer in one pass
// instead of visiting every element, and lists from another.
//
// One entry per element. The values of its search fields lie end to end in
// searchBytes, each followed by a NUL (stored values hold none); its display
// text and key lie in listBytes the same way. The set keeps the cache in
// step: each element that joins the set (or moves to another node) gets a new
// entry at the end, and the entry of each element that leaves is marked.
// Both cost the same whatever the size of the set. New entries wait outside
// the listing order until the next search places them; entries of elements
// that left are skipped, and dropped once they are half of all. The first
// search sorts a new cache and lists through that order; the copy laid out
// in listing order, which later searches read from front to back, waits for
// the next search or for settle.
//
// The cache borrows the set's nodes: the set drops the cache whenever it can
// no longer vouch for them (UhashElem.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Elemento.h"
#include "SearchSolution.h"
#include "UhashElem.h"

namespace contavio {

struct SearchCache {
  public:
    SearchCache(const iVector& searchFields, const iVector& displayFields, int32_t keyField);

    // Whether searches over these fields, in a set keyed by keyField, may use it.
    bool serves(const iVector& search, const iVector& display, int32_t key) const {
        return search == searchFields_ && display == displayFields_ && key == keyField_;
    }

    // Entries for the elements of many nodes, in that order, into a cache
    // that is new. Many are read by two threads.
    void appendAll(const std::vector<nodoHash*>& nodes);
    // An entry for the element that node now holds (it joined the set, or
    // moved into node); the node's stamp and bucket must be its final ones.
    // A cache out of room grows, by doubling: a copy now and then costs less
    // than the next search sorting every entry again. False only when memory
    // runs out: the set then drops the cache, and the next search makes it
    // anew.
    bool add(nodoHash* node);
    // The element that node holds leaves the set or the node.
    void drop(nodoHash* node);

    // The elements one of whose search fields contains pattern ('A'..'Z'
    // folded; pattern holds no NUL), listed in text order of their display
    // texts, equal texts in the order of a walk of the chains.
    std::unique_ptr<SSol> search(std::string_view pattern);

    // The entries of the elements among edited (sorted; they may belong to
    // other sets, or be gone) made again from what the elements now hold.
    // False once out of memory (see add): the set then drops the cache.
    bool refresh(const std::vector<const TElem*>& edited);

    // Does now what the next search would do before it searches: sorts the
    // entries that wait and lays the cache out in listing order. Nothing
    // before the first search.
    void settle();

    // The bytes the cache holds, and those it has room for (its buffers'
    // capacity), entries included.
    size_t usedBytes() const {
        return searchBytes_.size() + listBytes_.size() + entries_.size() * sizeof(Entry);
    }
    size_t reservedBytes() const {
        return searchBytes_.capacity() + listBytes_.capacity() +
               entries_.capacity() * sizeof(Entry);
    }

    // gSetElemEdits when the cache was made or last refreshed: a later value
    // means that an element of some set changed behind the cache's back.
    uint64_t edits = 0;

  private:
    struct Entry {
        uint64_t stamp;        // the holding node's stamp: its place in the chain
        nodoHash* node;        // none once the element has left the set or node
        size_t searchAt;       // its first byte in searchBytes_
        size_t listAt;         // its first byte in listBytes_
        int32_t bucket;        // the holding node's bucket
        uint32_t displaySize;  // its display text's bytes
    };

    std::string_view displayOf(size_t i) const {
        return {listBytes_.data() + entries_[i].listAt, entries_[i].displaySize};
    }
    std::string_view keyOf(size_t i) const {
        const size_t at = entries_[i].listAt + entries_[i].displaySize + 1;
        return {listBytes_.data() + at, listEnd(i) - at - 1};
    }
    size_t searchEnd(size_t i) const {
        return i + 1 < entries_.size() ? entries_[i + 1].searchAt : searchBytes_.size();
    }
    size_t listEnd(size_t i) const {
        return i + 1 < entries_.size() ? entries_[i + 1].listAt : listBytes_.size();
    }

    // Listing order: text order of the display texts, then bucket, then chain
    // position (falling stamp): the order of a walk of the chains followed by
    // a stable sort by text. An entry's stamp and bucket never change, so
    // `order` stays sorted while entries come and go.
    bool before(size_t a, size_t b) const;

    std::pair<size_t, size_t> estimate(const std::vector<nodoHash*>& nodes, size_t from,
                                       size_t to) const;
    void append(nodoHash* node);
    void join(const SearchCache& rest);
    void copyOut(const std::vector<uint32_t>& keep, size_t from, size_t to,
                 SearchCache& into) const;
    void rebuild(const std::vector<uint32_t>& keep);
    void compact();
    std::vector<uint32_t> sortedLive(std::vector<uint32_t> ids) const;
    void sortAll();
    void placeWaiting();
    void tidy();
    std::vector<uint8_t> matches(std::string_view pattern) const;

    iVector searchFields_;
    iVector displayFields_;
    int32_t keyField_;
    std::string searchBytes_;
    std::string listBytes_;
    std::vector<Entry> entries_;
    size_t dead_ = 0;         // entries whose element left
    uint32_t entryBase_ = 0;  // the number of this cache's first entry, in its nodes
    // The entries [0, placed_) in listing order, once a search has sorted
    // them; those from placed_ on wait for the next search.
    std::vector<uint32_t> order_;
    size_t placed_ = 0;
    bool ordered_ = false;
    size_t laidOut_ = 0;  // entries laid out in listing order by the last rebuild
};

}  // namespace contavio
