// The keyed hash set: a fixed table of bucket chains holding elements of one
// schema, keyed by one string field (addSHashE) or integer field (addIHashE).
// The table never grows. Outcomes are reported through the status pair
// hashErrMsg/hashErrCode of the calling thread; nothing here throws.
//
// Chain order is observable (the search and the file writer follow it): a
// node made for an insertion always goes to the head of its bucket's chain.
//
// Chains built or edited by hand. table, next, elem and count are open:
// callers may read the chains, and may build or change them themselves (a
// tool, a test). Beside the chains the set keeps bookkeeping of its own - a
// key index and a search cache that point at its nodes, and each node's prev,
// stamp, bucket and cacheEntry - which a hand edit can leave pointing at
// nodes that are gone. A caller who edits chains by hand keeps these rules:
//   1. A node linked by hand is made with std::make_unique<nodoHash>() and
//      holds an element; the set frees both. Its bookkeeping fields are left
//      as made.
//   2. count is equal to the number of nodes in the chains before the next
//      operation on the set.
//   3. After the edits - linking or freeing nodes, relinking chains, putting
//      another element into a node - and before any operation on the set
//      but destroyHashE and countHashE, rescanHashE is called. (An edit that
//      changes count is noticed by the next operation, which rescans by
//      itself; one that keeps count is not.)
// Chains may hold what the set itself would not make: an element outside
// its key's bucket, or two elements with equal keys, make the set walk its
// chains from then on, as an integer-keyed set does, which is what the
// operations describe. A key changed with setStr on a stored element is
// followed the same way: the next operation rebuilds the bookkeeping.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Elemento.h"
#include "SearchSolution.h"
#include "SmallBlocks.h"
#include "protoData.h"

namespace contavio {

// A node of a bucket chain. The node owns its element and the rest of the
// chain. Ids are 1, 2, 3, ... in the order new keys arrived, while nothing is
// deleted; after a deletion ids may repeat, so an id names no element.
struct nodoHash {
    CONTAVIO_SMALL_BLOCKS
    std::unique_ptr<TElem> elem;
    std::unique_ptr<nodoHash> next;
    int32_t id = 0;
    // Bookkeeping that keeps large sets fast; it never changes what the
    // chains hold or in which order. Set by the set alone (see above).
    nodoHash* prev = nullptr;          // previous node of the chain, none at the head
    uint64_t stamp = 0;                // rises with every push: a chain is in falling stamp order
    int32_t bucket = 0;                // the bucket whose chain holds this node
    uint32_t cacheEntry = UINT32_MAX;  // this node's entry in the search cache, if any
};

// Key -> node index of a set filled by string key (KeyIndex.h), and a
// compact copy of the fields that searches read (SearchCache.h).
struct KeyIndex;
struct SearchCache;

// The set. Owns its chains, their elements and its copy of the schema.
// Made by newHashElem, released by destroyHashE.
struct hashElemR {
    std::vector<std::unique_ptr<nodoHash>> table;  // size bucket heads
    int32_t size = 0;                              // number of buckets, >= 1, fixed
    int32_t count = 0;                             // number of elements (nodes)
    int32_t data = 0;    // caller's tag, stored in the files, not used here
    int32_t lastId = 1;  // id given to the most recent new key
    std::string name;
    int32_t keyField = 0;               // string- or integer-field index of the key
    std::unique_ptr<TprotoData> proto;  // none until setProtoHashE

    // Side index by key field, kept while every insertion is by string key
    // (addIHashE drops it for good). Lookups, replacements and deletions by
    // the key field use it instead of walking a chain; the byte-sum hash puts
    // many keys of a large set in few buckets. It follows keyField: a key
    // field changed before the first insertion is the one the set keys by.
    std::unique_ptr<KeyIndex> index;
    // The fields the last search read, for every element, in one buffer;
    // kept up to date by insertions and deletions once a search made it.
    std::unique_ptr<SearchCache> cache;
    bool indexed = true;
    uint64_t lastStamp = 0;

    hashElemR();
    hashElemR(const hashElemR&) = delete;
    hashElemR& operator=(const hashElemR&) = delete;
    ~hashElemR();  // frees every chain in a loop, never by recursion
};

// The status pair: empty message and ERR_OK at start. Each thread has its
// own, written by the operations it calls and read by it alone, so threads
// that each work on sets of their own never see one another's outcomes.
// A set destroyed after its thread's thread-locals have ended (a collection
// kept per thread, or in a global) writes no message.
extern thread_local std::string& hashErrMsg;
extern thread_local int32_t hashErrCode;

// A new set with size empty buckets, count 0, lastId 1; owned by the caller.
// size < 1: returns nullptr and sets ERR_BAD_SIZE. Success leaves the status.
hashElemR* newHashElem(int32_t size, int32_t data, const std::string& name, int32_t keyField);
// The set keeps its own clone of proto. Called once, right after creation.
void setProtoHashE(hashElemR* set, const TprotoData& proto);
// Inserts by the string field keyField, or replaces the element stored under
// an equal key (bytes compared exactly): the replaced element is destroyed,
// the new one goes to the head of the chain under the old node's id.
// The set owns the element from then on. Leaves the status pair alone.
void addSHashE(std::unique_ptr<TElem> element, hashElemR* set);
// The same by the integer field keyField (bucket modInt(key, size)).
void addIHashE(std::unique_ptr<TElem> element, hashElemR* set);
// Deletes the element whose string field `field` equals key, searching the
// key's own bucket. A match below the head is removed by moving the head's
// element into the matched node and dropping the head node. Always sets the
// status pair (ERR_OK, or ERR_NOT_FOUND with its warning).
void delSHashE(const std::string& key, int32_t field, hashElemR* set);
// The element whose string field `field` equals key, or nullptr. Borrowed:
// the set keeps owning it. Sets ERR_NOT_FOUND only when the key's bucket is
// empty; otherwise leaves the status pair as it was.
TElem* getSHashElem(const std::string& key, int32_t field, hashElemR* set);
int32_t countHashE(const hashElemR* set);
// A hint for a caller about to insert under key (a file reader): starts
// fetching the memory that addSHashE will touch for it. Changes nothing.
void prefetchHashE(const hashElemR* set, const std::string& key);
// A hint for a caller about to insert `more` elements (a file reader): makes
// room for them in the set's bookkeeping at once. Changes nothing else.
void reserveHashE(hashElemR* set, int32_t more);
// After chains were built or edited by hand (rules above): rebuilds the
// bookkeeping from what the chains hold, and sets count to the number of
// nodes. Chains, ids, lastId and the status pair stay as they are. One walk
// of every chain.
void rescanHashE(hashElemR* set);
// Destroys the set and all it owns and leaves the caller's pointer none.
// A none pointer sets ERR_NO_SET. Always sets the status pair.
void destroyHashE(hashElemR*& set);

// Finds the elements in which any string field listed in searchFields
// contains text (containsText), each once, walking buckets in ascending
// order and chains from the head. Each result carries the element's key
// field and its display text: the displayFields joined, each followed by one
// blank. A new collection owned by the caller.
std::unique_ptr<SSol> searchHashE(hashElemR* set, const std::string& text,
                                  const iVector& searchFields, const iVector& displayFields);
// Does now what the set's next search would do before it searches, once a
// search has made its cache (SearchCache::settle); nothing otherwise. A
// caller with time to spare calls it after a search, so that the next one
// waits less.
void settleSearchHashE(hashElemR* set);

}  // namespace contavio
