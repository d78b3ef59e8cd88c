#include "UhashElem.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>

#include "Constantes.h"
#include "KeyIndex.h"
#include "SearchCache.h"
#include "SetEdits.h"
#include "basicOps.h"

namespace contavio {

namespace {

// Trivially destroyed, so readable to the thread's very end: set once the
// thread's message is gone.
thread_local bool tStatusGone = false;

// The thread's message. A collection may outlive it - one kept per thread
// and made before the thread's first status, or one kept in a global, which
// ends after the main thread's thread-locals - and still report through
// the pair while it ends: from then on its messages go nowhere.
struct StatusText {
    std::string text;
    ~StatusText() { tStatusGone = true; }
};
thread_local StatusText tStatusText;

}  // namespace

thread_local std::string& hashErrMsg = tStatusText.text;
thread_local int32_t hashErrCode = ERR_OK;

namespace {

void setStatus(const std::string& msg, int32_t code) {
    hashErrCode = code;
    if (!tStatusGone) tStatusText.text = msg;
}

// Frees every node with its element; no chain unwinds recursively. The
// nodes of a large set go in memory order, which keeps the allocator working
// on neighbouring memory instead of jumping about the heap: several times
// faster than chain order.
void freeChains(std::vector<std::unique_ptr<nodoHash>>& table, size_t count) {
    std::vector<nodoHash*> nodes;
    try {
        nodes.reserve(count);
    } catch (const std::bad_alloc&) {
        // No room to sort them: chain order, a head at a time.
        for (auto& head : table) {
            while (head) head = std::move(head->next);
        }
        return;
    }
    for (auto& head : table) {
        std::unique_ptr<nodoHash> node = std::move(head);
        while (node) {
            std::unique_ptr<nodoHash> next = std::move(node->next);
            if (nodes.size() == nodes.capacity()) {
                node.reset();  // more nodes than counted: this one goes now
            } else {
                nodes.push_back(node.release());
            }
            node = std::move(next);
        }
    }
    std::sort(nodes.begin(), nodes.end(), std::less<nodoHash*>());
    for (nodoHash* node : nodes) delete node;
}
// Puts node at the head of bucket b's chain.
void linkAtHead(hashElemR* set, int32_t b, std::unique_ptr<nodoHash> node) {
    std::unique_ptr<nodoHash>& head = set->table[static_cast<size_t>(b)];
    node->bucket = b;
    node->stamp = ++set->lastStamp;
    node->prev = nullptr;
    if (head) head->prev = node.get();
    node->next = std::move(head);
    head = std::move(node);
}

// Takes the node after `before` (the head of bucket b when before is none)
// out of its chain and hands it back, still owning its element.
std::unique_ptr<nodoHash> unlinkAfter(hashElemR* set, int32_t b, nodoHash* before) {
    std::unique_ptr<nodoHash>& link = before ? before->next : set->table[static_cast<size_t>(b)];
    std::unique_ptr<nodoHash> taken = std::move(link);
    link = std::move(taken->next);
    if (link) link->prev = before;
    taken->prev = nullptr;
    return taken;
}

// Inserts element into bucket b, replacing `found` (whose predecessor is
// `before`), if any; the new element takes the replaced node's id.
nodoHash* insertOrReplace(hashElemR* set, int32_t b, std::unique_ptr<TElem> element,
                          nodoHash* found, nodoHash* before) {
    auto node = std::make_unique<nodoHash>();
    node->elem = std::move(element);
    node->elem->inSet = true;
    node->elem->keyedBy = set->indexed ? set->keyField : -1;
    if (found == nullptr) {
        node->id = set->count + 1;
        set->lastId = node->id;
        ++set->count;
    } else {
        node->id = found->id;
        unlinkAfter(set, b, before).reset();  // destroys the replaced element
    }
    nodoHash* raw = node.get();
    linkAtHead(set, b, std::move(node));
    return raw;
}

// The first node of bucket b whose string field `field` is key, or none; its
// predecessor goes to *before. Reads only elements and next links.
nodoHash* walkForString(const hashElemR* set, int32_t b, size_t field, std::string_view key,
                        nodoHash** before = nullptr) {
    nodoHash* last = nullptr;
    nodoHash* node = set->table[static_cast<size_t>(b)].get();
    while (node != nullptr && node->elem->strs[field] != key) {
        last = node;
        node = node->next.get();
    }
    if (before != nullptr) *before = last;
    return node;
}

// Rebuilds the bookkeeping from what the chains hold; see rescanHashE.
void rescan(hashElemR* set) {
    set->cache.reset();
    const bool wanted = set->indexed && set->keyField >= 0;
    const size_t field = static_cast<size_t>(std::max(set->keyField, 0));
    auto index = wanted ? std::make_unique<KeyIndex>(field) : nullptr;
    int32_t nodes = 0;
    std::vector<nodoHash*> chain;
    for (size_t b = 0; b < set->table.size(); ++b) {
        chain.clear();
        nodoHash* before = nullptr;
        for (nodoHash* node = set->table[b].get(); node != nullptr; node = node->next.get()) {
            node->prev = before;
            node->bucket = static_cast<int32_t>(b);
            node->cacheEntry = UINT32_MAX;
            node->elem->inSet = true;
            node->elem->keyedBy = wanted ? set->keyField : -1;
            chain.push_back(node);
            before = node;
            ++nodes;
        }
        // Stamps fall from the head of a chain to its tail.
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) (*it)->stamp = ++set->lastStamp;
        if (!index) continue;
        for (nodoHash* node : chain) {
            // The index may only find what a walk of the key's own bucket
            // finds: each key once, in its own bucket.
            const TElem& e = *node->elem;
            if (field >= e.strs.size() ||
                hashStr(e.strs[field], set->size) != static_cast<int32_t>(b)) {
                index.reset();
                break;
            }
            KeyIndex::Slot& slot = index->slotFor(e.strs[field]);
            if (slot.node != nullptr) {
                index.reset();
                break;
            }
            slot.node = node;
            ++index->used;
        }
    }
    set->count = nodes;
    if (wanted && !index) set->indexed = false;  // walks its chains from now on
    set->index = std::move(index);
}

// The key index, once it is in step with the set's key field and chains;
// none when the set walks its chains. The chains changed behind the set's
// back when count is not the number of nodes the index holds, and a stored
// key may have changed when gSetKeyEdits moved on.
KeyIndex* keyIndex(hashElemR* set) {
    if (!set->indexed || set->keyField < 0) return nullptr;
    KeyIndex* index = set->index.get();
    if (index != nullptr && index->field == static_cast<size_t>(set->keyField) &&
        index->used == static_cast<size_t>(std::max(set->count, 0)) && set->count >= 0 &&
        index->keyEdits == gSetKeyEdits.load(std::memory_order_relaxed)) {
        return index;
    }
    rescan(set);
    return set->index.get();
}

// Nodes in memory order. A radix sort over the bits in which their
// addresses differ: for a million nodes it takes a fraction of a comparison
// sort's time.
void sortByAddress(std::vector<nodoHash*>& nodes) {
    if (nodes.size() < 4096) {
        std::sort(nodes.begin(), nodes.end(), std::less<nodoHash*>());
        return;
    }
    const auto [low, high] = std::minmax_element(nodes.begin(), nodes.end());
    const uintptr_t base = reinterpret_cast<uintptr_t>(*low);
    const uintptr_t span = reinterpret_cast<uintptr_t>(*high) - base;
    constexpr int kDigitBits = 11;
    constexpr size_t kDigits = size_t{1} << kDigitBits;
    std::vector<nodoHash*> other(nodes.size());
    std::vector<size_t> at(kDigits + 1);
    // Nodes lie on 8 bytes: the low three bits say nothing.
    for (int shift = 3; shift < 64 && (span >> shift) != 0; shift += kDigitBits) {
        const auto digit = [base, shift](const nodoHash* node) {
            return ((reinterpret_cast<uintptr_t>(node) - base) >> shift) & (kDigits - 1);
        };
        std::fill(at.begin(), at.end(), 0);
        for (const nodoHash* node : nodes) ++at[digit(node) + 1];
        if (at[digit(nodes.front()) + 1] == nodes.size()) continue;  // one digit: nothing moves
        for (size_t d = 1; d <= kDigits; ++d) at[d] += at[d - 1];
        for (nodoHash* node : nodes) other[at[digit(node)]++] = node;
        nodes.swap(other);
    }
}

// Search through the cache, made first if there is none for these fields or
// an element changed since it was made.
std::unique_ptr<SSol> searchCached(hashElemR* set, const KeyIndex& index, const std::string& text,
                                   const iVector& searchFields, const iVector& displayFields) {
    std::unique_ptr<SearchCache>& cache = set->cache;
    uint64_t edits = gSetElemEdits.load(std::memory_order_relaxed);
    if (cache && cache->serves(searchFields, displayFields, set->keyField) &&
        cache->edits != edits) {
        // Elements changed somewhere: only this set's own matter, and only
        // their entries are made again.
        std::vector<const TElem*> edited;
        if (setElemEditsSince(cache->edits, edits, edited) && cache->refresh(edited)) {
            cache->edits = edits;
        } else {
            cache.reset();
        }
    }
    if (!cache || !cache->serves(searchFields, displayFields, set->keyField) ||
        cache->edits != edits) {
        cache = std::make_unique<SearchCache>(searchFields, displayFields, set->keyField);
        // In memory order, which for a set read from a file is the file's
        // order: the elements are then read from front to back, not at
        // random. The order of the entries is settled by the sort anyway.
        std::vector<nodoHash*> nodes;
        nodes.reserve(index.used);
        for (const KeyIndex::Slot& slot : index.slots) {
            if (slot.node != nullptr) nodes.push_back(slot.node);
        }
        sortByAddress(nodes);
        cache->appendAll(nodes);
        cache->edits = edits;
    }
    const void* nul = std::memchr(text.data(), '\0', text.size());
    return cache->search(std::string_view(
        text.data(),
        nul ? static_cast<size_t>(static_cast<const char*>(nul) - text.data()) : text.size()));
}

bool matchesAny(const TElem& e, const std::string& text, const iVector& searchFields) {
    for (int32_t f : searchFields) {
        if (containsText(e.str(f), text)) return true;
    }
    return false;
}

void buildDisplay(const TElem& e, const iVector& displayFields, std::string& out) {
    out.clear();
    for (int32_t f : displayFields) {
        out += e.str(f);
        out += ' ';
    }
}

}  // namespace

hashElemR::hashElemR() = default;

hashElemR::~hashElemR() { freeChains(table, static_cast<size_t>(std::max(count, 0))); }

hashElemR* newHashElem(int32_t size, int32_t data, const std::string& name, int32_t keyField) {
    if (size < 1) {
        setStatus("ERROR @ newHashElem (hashE): El tama\xF1o del hash debe ser mayor que 0 (cero).",
                  ERR_BAD_SIZE);
        return nullptr;
    }
    auto* set = new hashElemR();
    resizeOnHugePages(set->table, static_cast<size_t>(size));
    set->size = size;
    set->count = 0;
    set->data = data;
    set->lastId = 1;
    set->name = copyStr(name);
    set->keyField = keyField;
    if (keyField >= 0) set->index = std::make_unique<KeyIndex>(static_cast<size_t>(keyField));
    return set;
}

void setProtoHashE(hashElemR* set, const TprotoData& proto) { set->proto = proto.clone(); }

void addSHashE(std::unique_ptr<TElem> element, hashElemR* set) {
    const size_t field = static_cast<size_t>(set->keyField);
    const std::string& key = element->strs[field];
    const int32_t b = hashStr(key, set->size);
    if (KeyIndex* index = keyIndex(set)) {
        KeyIndex::Slot& slot = index->slotFor(key);
        nodoHash* found = slot.node;
        if (found && set->cache) set->cache->drop(found);
        // The replaced node dies inside; the slot is re-pointed without reading it.
        slot.node =
            insertOrReplace(set, b, std::move(element), found, found ? found->prev : nullptr);
        if (found == nullptr) ++index->used;
        if (set->cache && !set->cache->add(slot.node)) set->cache.reset();
        return;
    }
    nodoHash* before = nullptr;
    nodoHash* found = walkForString(set, b, field, key, &before);
    insertOrReplace(set, b, std::move(element), found, before);
}

void addIHashE(std::unique_ptr<TElem> element, hashElemR* set) {
    // The string index cannot follow integer keys: drop it for good.
    set->indexed = false;
    set->index.reset();
    set->cache.reset();
    const size_t field = static_cast<size_t>(set->keyField);
    const int32_t key = element->ints[field];
    int32_t b = modInt(key, set->size);
    // A negative key leaves a negative remainder; fold it into the table.
    if (b < 0) b += set->size;
    nodoHash* before = nullptr;
    nodoHash* found = set->table[static_cast<size_t>(b)].get();
    while (found != nullptr && found->elem->ints[field] != key) {
        before = found;
        found = found->next.get();
    }
    insertOrReplace(set, b, std::move(element), found, before);
}

void delSHashE(const std::string& key, int32_t field, hashElemR* set) {
    const int32_t b = hashStr(key, set->size);
    std::unique_ptr<nodoHash>& head = set->table[static_cast<size_t>(b)];
    if (!head) {
        setStatus("WARNING @ delSHashE (hashE): Elemento solicitado para borrar no encontrado (" +
                      key + ")",
                  ERR_NOT_FOUND);
        return;
    }
    KeyIndex* index = keyIndex(set);
    const size_t f = static_cast<size_t>(field);
    nodoHash* match = nullptr;
    if (head->elem->strs[f] == key) {
        match = head.get();
    } else if (index && field == set->keyField) {
        match = index->find(key);
    } else {
        match = walkForString(set, b, f, key);
    }
    if (match == nullptr) {
        setStatus("WARNING @ delSHashE (hashE): Elemento solicitado para borrar con encontrado.",
                  ERR_NOT_FOUND);
        return;
    }
    SearchCache* cache = set->cache.get();
    if (index) index->erase(index->keyOf(match));
    if (cache) cache->drop(match);
    if (match != head.get()) {
        // The head's element moves into the matched node, under its id, and
        // the head node leaves the chain: no predecessor is needed.
        if (index) index->repoint(index->keyOf(head.get()), match);
        if (cache) cache->drop(head.get());
        match->elem = std::move(head->elem);
        // Its place in the listing order changes with its node.
        if (cache && !cache->add(match)) set->cache.reset();
    }
    std::unique_ptr<nodoHash> old = std::move(head);
    head = std::move(old->next);
    if (head) head->prev = nullptr;
    --set->count;
    setStatus("", ERR_OK);
}

TElem* getSHashElem(const std::string& key, int32_t field, hashElemR* set) {
    const int32_t b = hashStr(key, set->size);
    if (!set->table[static_cast<size_t>(b)]) {
        setStatus(
            "WARNING @ getSHashElem (UhashElem): Elemento solicitado no encontrado (" + key + ")",
            ERR_NOT_FOUND);
        return nullptr;
    }
    KeyIndex* index = keyIndex(set);
    nodoHash* node = index && field == set->keyField
                         ? index->find(key)
                         : walkForString(set, b, static_cast<size_t>(field), key);
    return node ? node->elem.get() : nullptr;
}

int32_t countHashE(const hashElemR* set) { return set->count; }

void prefetchHashE(const hashElemR* set, const std::string& key) {
    const KeyIndex* index = set->indexed ? set->index.get() : nullptr;
    if (index && index->used == static_cast<size_t>(std::max(set->count, 0))) index->prefetch(key);
    const nodoHash* head = set->table[static_cast<size_t>(hashStr(key, set->size))].get();
    if (head != nullptr) __builtin_prefetch(head, 1);  // its prev is about to change
}

void reserveHashE(hashElemR* set, int32_t more) {
    KeyIndex* index = set->indexed ? set->index.get() : nullptr;
    if (index && more > 0 && index->used == static_cast<size_t>(std::max(set->count, 0))) {
        index->reserve(static_cast<size_t>(more));
    }
}

void rescanHashE(hashElemR* set) { rescan(set); }

void destroyHashE(hashElemR*& set) {
    if (set == nullptr) {
        setStatus("ERROR @ destroyHashE (hashE): Conjunto vac\xEDo! (Hash = nil).", ERR_NO_SET);
        return;
    }
    set->cache.reset();
    set->index.reset();
    freeChains(set->table, static_cast<size_t>(std::max(set->count, 0)));
    delete set;
    set = nullptr;
    setStatus("", ERR_OK);
}

void settleSearchHashE(hashElemR* set) {
    // Chains edited by hand since the search leave no cache to settle.
    if (set != nullptr && keyIndex(set) != nullptr && set->cache) set->cache->settle();
}

std::unique_ptr<SSol> searchHashE(hashElemR* set, const std::string& text,
                                  const iVector& searchFields, const iVector& displayFields) {
    // Without search fields nothing matches; the cache made for the fields
    // searched before stays for the next search.
    if (searchFields.empty()) return newSSol();
    if (const KeyIndex* index = keyIndex(set)) {
        return searchCached(set, *index, text, searchFields, displayFields);
    }
    auto sol = newSSol();
    const int32_t total = countHashE(set);
    int32_t met = 0;
    std::string display;
    for (size_t b = 0; b < set->table.size() && met < total; ++b) {
        for (const nodoHash* node = set->table[b].get(); node != nullptr; node = node->next.get()) {
            ++met;
            const TElem& e = *node->elem;
            // Each element is tested once, so it is listed at most once.
            if (!matchesAny(e, text, searchFields)) continue;
            buildDisplay(e, displayFields, display);
            addSSol(sol.get(), e.str(set->keyField), display);
        }
    }
    return sol;
}

}  // namespace contavio
