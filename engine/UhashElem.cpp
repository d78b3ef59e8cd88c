#include "UhashElem.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Constantes.h"
#include "Worker.h"
#include "basicOps.h"

namespace contavio {

std::string hashErrMsg;
int32_t hashErrCode = ERR_OK;

// Open-addressing table (linear probing, backward-shift deletion) from the
// key field of each element to its node. The key is read through the node,
// so a node whose element changes (deletion moves elements) stays findable
// once re-pointed.
struct KeyIndex {
    struct Slot {
        uint64_t hash = 0;
        nodoHash* node = nullptr;
    };

    explicit KeyIndex(size_t field) : field(field) { slots.resize(16); }

    static uint64_t hashKey(std::string_view key) {
        uint64_t h = 0x9E3779B97F4A7C15ull ^ key.size();
        const char* p = key.data();
        size_t n = key.size();
        for (; n >= 8; p += 8, n -= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            h = (h ^ w) * 0xFF51AFD7ED558CCDull;
            h ^= h >> 32;
        }
        uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 29;
        return h;
    }

    std::string_view keyOf(const nodoHash* node) const { return node->elem->strs[field]; }

    size_t mask() const { return slots.size() - 1; }

    // The slot holding key, or the empty slot where it would go.
    size_t probe(std::string_view key, uint64_t h) const {
        size_t i = h & mask();
        while (slots[i].node != nullptr) {
            if (slots[i].hash == h && keyOf(slots[i].node) == key) return i;
            i = (i + 1) & mask();
        }
        return i;
    }

    void prefetch(std::string_view key) const {
        __builtin_prefetch(&slots[hashKey(key) & mask()], 1);
    }

    nodoHash* find(std::string_view key) const {
        return slots[probe(key, hashKey(key))].node;
    }

    // The slot for key, made room for: its node is the one stored under key,
    // or none, and the caller then stores a node there (and counts it).
    Slot& slotFor(std::string_view key) {
        if ((used + 1) * 4 > slots.size() * 3) grow();
        const uint64_t h = hashKey(key);
        Slot& s = slots[probe(key, h)];
        s.hash = h;
        return s;
    }

    // Points key at node; key is already present.
    void repoint(std::string_view key, nodoHash* node) { slots[probe(key, hashKey(key))].node = node; }

    void erase(std::string_view key) {
        size_t i = probe(key, hashKey(key));
        if (slots[i].node == nullptr) return;
        slots[i] = Slot{};
        --used;
        // Shift back the entries whose probe path ran through the hole.
        for (size_t j = (i + 1) & mask(); slots[j].node != nullptr; j = (j + 1) & mask()) {
            const size_t home = slots[j].hash & mask();
            if (((j - home) & mask()) >= ((j - i) & mask())) {
                slots[i] = slots[j];
                slots[j] = Slot{};
                i = j;
            }
        }
    }

    void grow() {
        std::vector<Slot> old(slots.size() * 2);
        old.swap(slots);
        for (const Slot& s : old) {
            if (s.node == nullptr) continue;
            size_t i = s.hash & mask();
            while (slots[i].node != nullptr) i = (i + 1) & mask();
            slots[i] = s;
        }
    }

    size_t field;
    std::vector<Slot> slots;  // size is a power of two
    size_t used = 0;
};

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

// A copy of what searches read, for every element of an indexed set: one
// entry per element. The values of its search fields lie end to end in
// `searchBytes`, each followed by a NUL (stored values hold none); its display
// text and key lie in `listBytes` the same way. A search scans searchBytes in
// one pass instead of visiting every element, and lists from listBytes.
// Insertions and deletions keep the cache in step, and a standing listing
// order; entries of elements that left are skipped and, once they are many,
// dropped.
struct SearchCache {
    struct Entry {
        uint64_t stamp;    // the holding node's stamp: its place in the chain
        nodoHash* node;    // none once the element has left the set
        size_t searchAt;   // its first byte in searchBytes
        size_t listAt;     // its first byte in listBytes
        int32_t bucket;    // the holding node's bucket
        uint32_t displaySize;  // its display text's bytes
    };

    SearchCache(const iVector& searchFields, const iVector& displayFields, int32_t keyField)
        : searchFields(searchFields), displayFields(displayFields), keyField(keyField) {}

    bool serves(const iVector& search, const iVector& display, int32_t key) const {
        return search == searchFields && display == displayFields && key == keyField;
    }

    void append(nodoHash* node) {
        const TElem& e = *node->elem;
        Entry entry{node->stamp, node, searchBytes.size(), listBytes.size(), node->bucket, 0};
        for (int32_t f : searchFields) {
            searchBytes += e.str(f);
            searchBytes += '\0';
        }
        for (int32_t f : displayFields) {
            listBytes += e.str(f);
            listBytes += ' ';
        }
        entry.displaySize = static_cast<uint32_t>(listBytes.size() - entry.listAt);
        listBytes += '\0';
        listBytes += e.str(keyField);
        listBytes += '\0';
        node->cacheEntry = entryBase + static_cast<uint32_t>(entries.size());
        entries.push_back(entry);
        if (ordered) place(node->cacheEntry);
    }

    // Entries for the elements of many nodes, in that order, into a cache that
    // is new. Many are read by two threads, each into buffers of its own,
    // which are joined after.
    void appendAll(const std::vector<nodoHash*>& nodes) {
        const size_t n = nodes.size();
        if (n < kWorthASecondThread) {
            for (nodoHash* node : nodes) append(node);
            return;
        }
        const size_t half = n / 2;
        SearchCache rest(searchFields, displayFields, keyField);
        rest.entryBase = static_cast<uint32_t>(half);
        entries.reserve(n);
        rest.entries.reserve(n - half);
        runBoth([&] { for (size_t k = 0; k < half; ++k) append(nodes[k]); },
                [&] { for (size_t k = half; k < n; ++k) rest.append(nodes[k]); });
        join(rest);
    }

    // Takes over the entries of `rest`, whose nodes already count them as
    // following this cache's own.
    void join(const SearchCache& rest) {
        const size_t searchBase = searchBytes.size();
        const size_t listBase = listBytes.size();
        searchBytes += rest.searchBytes;
        listBytes += rest.listBytes;
        entries.reserve(entries.size() + rest.entries.size());
        for (Entry entry : rest.entries) {
            entry.searchAt += searchBase;
            entry.listAt += listBase;
            entries.push_back(entry);
        }
        dead += rest.dead;
    }

    void drop(const nodoHash* node) {
        if (node->cacheEntry >= entries.size()) return;
        entries[node->cacheEntry].node = nullptr;
        ++dead;
    }

    // The element of `from` now sits in node `to` (a deletion moved it).
    void move(const nodoHash* from, nodoHash* to) {
        if (from->cacheEntry >= entries.size()) return;
        const uint32_t i = from->cacheEntry;
        if (ordered) unplace(i);  // its chain position, and so its place, changes
        Entry& entry = entries[i];
        entry.node = to;
        entry.stamp = to->stamp;
        entry.bucket = to->bucket;
        to->cacheEntry = i;
        if (ordered) place(i);
    }

    std::string_view displayOf(size_t i) const {
        return {listBytes.data() + entries[i].listAt, entries[i].displaySize};
    }
    std::string_view keyOf(size_t i) const {
        const size_t at = entries[i].listAt + entries[i].displaySize + 1;
        return {listBytes.data() + at, listEnd(i) - at - 1};
    }

    size_t searchEnd(size_t i) const {
        return i + 1 < entries.size() ? entries[i + 1].searchAt : searchBytes.size();
    }
    size_t listEnd(size_t i) const {
        return i + 1 < entries.size() ? entries[i + 1].listAt : listBytes.size();
    }

    // Listing order: text order of the display texts, then bucket, then chain
    // position (falling stamp) - the order of a walk of the chains followed
    // by a stable sort by text.
    bool before(size_t a, size_t b) const {
        const int c = compareSSolText(displayOf(a), displayOf(b));
        if (c != 0) return c < 0;
        if (entries[a].bucket != entries[b].bucket) return entries[a].bucket < entries[b].bucket;
        return entries[a].stamp > entries[b].stamp;
    }

    void place(uint32_t i) {
        auto at = std::upper_bound(order.begin(), order.end(), i,
                                   [this](uint32_t x, uint32_t y) { return before(x, y); });
        order.insert(at, i);
    }

    void unplace(uint32_t i) {
        auto at = std::lower_bound(order.begin(), order.end(), i,
                                   [this](uint32_t x, uint32_t y) { return before(x, y); });
        while (at != order.end() && *at != i) ++at;
        if (at != order.end()) order.erase(at);
    }

    // Copies the entries keep[from, to) into `into`, numbered from `from`.
    void copyOut(const std::vector<uint32_t>& keep, size_t from, size_t to, SearchCache& into) const {
        for (size_t k = from; k < to; ++k) {
            const uint32_t i = keep[k];
            Entry entry = entries[i];
            entry.searchAt = into.searchBytes.size();
            entry.listAt = into.listBytes.size();
            into.searchBytes.append(searchBytes, entries[i].searchAt, searchEnd(i) - entries[i].searchAt);
            into.listBytes.append(listBytes, entries[i].listAt, listEnd(i) - entries[i].listAt);
            entry.node->cacheEntry = static_cast<uint32_t>(k);
            into.entries.push_back(entry);
        }
    }

    // Lays the live entries out again in the given order and numbers them so;
    // many are copied by two threads, each half into buffers of its own.
    void rebuild(const std::vector<uint32_t>& keep) {
        const size_t n = keep.size();
        SearchCache laid(searchFields, displayFields, keyField);
        laid.searchBytes.reserve(searchBytes.size());
        laid.listBytes.reserve(listBytes.size());
        laid.entries.reserve(n);
        if (n < kWorthASecondThread) {
            copyOut(keep, 0, n, laid);
        } else {
            const size_t half = n / 2;
            SearchCache rest(searchFields, displayFields, keyField);
            rest.searchBytes.reserve(searchBytes.size() / 2 + searchBytes.size() / 8);
            rest.listBytes.reserve(listBytes.size() / 2 + listBytes.size() / 8);
            rest.entries.reserve(n - half);
            runBoth([&] { copyOut(keep, 0, half, laid); }, [&] { copyOut(keep, half, n, rest); });
            laid.join(rest);
        }
        entries.swap(laid.entries);
        searchBytes.swap(laid.searchBytes);
        listBytes.swap(laid.listBytes);
        dead = 0;
        order.resize(entries.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    }

    // Puts the live entries in listing order, laid out so, so that a listing
    // reads the cache from front to back.
    void sortAll();

    // When many entries are those of elements that left, or were added since
    // the last sort, lays the cache out afresh in listing order.
    void tidy() {
        if (!ordered) {
            sortAll();
        } else if (dead * 2 >= entries.size() || (entries.size() - sortedSize) * 8 > entries.size()) {
            std::vector<uint32_t> keep;
            keep.reserve(entries.size() - dead);
            for (uint32_t i : order) {
                if (entries[i].node != nullptr) keep.push_back(i);
            }
            rebuild(keep);
            sortedSize = entries.size();
        }
    }

    iVector searchFields;
    iVector displayFields;
    int32_t keyField;
    std::string searchBytes;
    std::string listBytes;
    std::vector<Entry> entries;
    size_t dead = 0;
    uint32_t entryBase = 0;  // the number of this cache's first entry, in its nodes
    uint64_t edits = 0;  // gSetElemEdits when last in step with the set
    // Entries in listing order (those of elements that left too, until the
    // next tidy), once a search has sorted them.
    std::vector<uint32_t> order;
    bool ordered = false;
    size_t sortedSize = 0;  // entries laid out in order by the last tidy
};

namespace {

void setStatus(const std::string& msg, int32_t code) {
    hashErrMsg = msg;
    hashErrCode = code;
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

// Takes node out of its chain and hands it back, still owning its element.
std::unique_ptr<nodoHash> unlink(hashElemR* set, nodoHash* node) {
    std::unique_ptr<nodoHash>& link =
        node->prev ? node->prev->next : set->table[static_cast<size_t>(node->bucket)];
    std::unique_ptr<nodoHash> taken = std::move(link);
    link = std::move(taken->next);
    if (link) link->prev = taken->prev;
    taken->prev = nullptr;
    return taken;
}

// Inserts element into bucket b, replacing the first node found by `find`;
// the new element takes the replaced node's id.
nodoHash* insertOrReplace(hashElemR* set, int32_t b, std::unique_ptr<TElem> element,
                          nodoHash* found) {
    auto node = std::make_unique<nodoHash>();
    node->elem = std::move(element);
    if (found == nullptr) {
        node->id = set->count + 1;
        set->lastId = node->id;
        ++set->count;
    } else {
        node->id = found->id;
        unlink(set, found).reset();  // destroys the replaced element
    }
    nodoHash* raw = node.get();
    linkAtHead(set, b, std::move(node));
    return raw;
}

nodoHash* walkForString(const hashElemR* set, int32_t b, size_t field, std::string_view key) {
    nodoHash* node = set->table[static_cast<size_t>(b)].get();
    while (node != nullptr && node->elem->strs[field] != key) node = node->next.get();
    return node;
}

bool usesIndex(const hashElemR* set, int32_t field) {
    return set->indexed && set->index && field == set->keyField;
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
    set->table.resize(static_cast<size_t>(size));
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
    if (set->indexed && set->index) {
        KeyIndex::Slot& slot = set->index->slotFor(key);
        nodoHash* found = slot.node;
        if (found && set->cache) set->cache->drop(found);
        // The replaced node dies inside; the slot is re-pointed without reading it.
        slot.node = insertOrReplace(set, b, std::move(element), found);
        slot.node->elem->inSet = true;
        if (found == nullptr) ++set->index->used;
        if (set->cache) set->cache->append(slot.node);
        return;
    }
    nodoHash* found = walkForString(set, b, field, key);
    insertOrReplace(set, b, std::move(element), found)->elem->inSet = true;
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
    nodoHash* found = set->table[static_cast<size_t>(b)].get();
    while (found != nullptr && found->elem->ints[field] != key) found = found->next.get();
    insertOrReplace(set, b, std::move(element), found)->elem->inSet = true;
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
    const size_t f = static_cast<size_t>(field);
    nodoHash* match = nullptr;
    if (head->elem->strs[f] == key) {
        match = head.get();
    } else if (usesIndex(set, field)) {
        match = set->index->find(key);
    } else {
        match = walkForString(set, b, f, key);
    }
    if (match == nullptr) {
        setStatus("WARNING @ delSHashE (hashE): Elemento solicitado para borrar con encontrado.",
                  ERR_NOT_FOUND);
        return;
    }
    KeyIndex* index = set->indexed ? set->index.get() : nullptr;
    SearchCache* cache = set->cache.get();
    if (index) index->erase(index->keyOf(match));
    if (cache) cache->drop(match);
    if (match != head.get()) {
        // The head's element moves into the matched node, under its id, and
        // the head node leaves the chain: no predecessor is needed.
        if (index) index->repoint(index->keyOf(head.get()), match);
        if (cache) cache->move(head.get(), match);
        match->elem = std::move(head->elem);
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
        setStatus("WARNING @ getSHashElem (UhashElem): Elemento solicitado no encontrado (" + key +
                      ")",
                  ERR_NOT_FOUND);
        return nullptr;
    }
    nodoHash* node = usesIndex(set, field) ? set->index->find(key)
                                           : walkForString(set, b, static_cast<size_t>(field), key);
    return node ? node->elem.get() : nullptr;
}

int32_t countHashE(const hashElemR* set) { return set->count; }

void prefetchHashE(const hashElemR* set, const std::string& key) {
    if (set->indexed && set->index) set->index->prefetch(key);
    const nodoHash* head = set->table[static_cast<size_t>(hashStr(key, set->size))].get();
    if (head != nullptr) __builtin_prefetch(head, 1);  // its prev is about to change
}

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

namespace {

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
        const __m128i hit = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)),
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

char otherCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// One flag per entry of the cache: its element is there and one of its
// search fields contains pattern ('A'..'Z' folded).
std::vector<uint8_t> cachedMatches(const SearchCache& cache, std::string_view pattern) {
    const auto& entries = cache.entries;
    std::vector<uint8_t> hit(entries.size(), 0);
    if (pattern.empty()) {
        // Every element with a non-empty search field; an empty value never matches.
        const size_t separators = cache.searchFields.size();
        for (size_t i = 0; i < entries.size(); ++i) {
            hit[i] = entries[i].node != nullptr && cache.searchEnd(i) - entries[i].searchAt > separators;
        }
        return hit;
    }
    std::string folded(pattern);
    for (char& c : folded) c = static_cast<char>(lowerAZ(static_cast<unsigned char>(c)));
    const size_t m = folded.size();
    const char first = folded[0], last = folded[m - 1];
    const char* bytes = cache.searchBytes.data();
    const size_t n = cache.searchBytes.size();
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
        while (hi < entries.size() && entries[hi].searchAt <= pos) {
            lo = hi;
            hi += step;
            step *= 2;
        }
        hi = std::min(hi, entries.size());
        entry = static_cast<size_t>(
                    std::upper_bound(entries.begin() + static_cast<ptrdiff_t>(lo),
                                     entries.begin() + static_cast<ptrdiff_t>(hi), pos,
                                     [](size_t p, const SearchCache::Entry& e) { return p < e.searchAt; }) -
                    entries.begin()) - 1;
        hit[entry] = entries[entry].node != nullptr;
        pos = cache.searchEnd(entry);  // one result per element
    }
    return hit;
}

}  // namespace

void SearchCache::sortAll() {
    struct Key {
        uint64_t head[4];  // the display text's first 32 bytes, folded
        uint32_t entry;
    };
    std::vector<Key> keys;
    keys.reserve(entries.size() - dead);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].node == nullptr) continue;
        const std::string_view display = displayOf(i);
        keys.push_back(Key{{foldedBytes(display, 0), foldedBytes(display, 8), foldedBytes(display, 16),
                            foldedBytes(display, 24)},
                           static_cast<uint32_t>(i)});
    }
    const auto less = [this](const Key& a, const Key& b) {
        for (int w = 0; w < 4; ++w) {
            if (a.head[w] != b.head[w]) return a.head[w] < b.head[w];
        }
        return before(a.entry, b.entry);
    };
    // The order is total (no two entries compare equal), so two sorted
    // halves merge into the one order.
    if (keys.size() < kWorthASecondThread) {
        std::sort(keys.begin(), keys.end(), less);
    } else {
        const auto middle = keys.begin() + static_cast<ptrdiff_t>(keys.size() / 2);
        runBoth([&] { std::sort(keys.begin(), middle, less); },
                [&] { std::sort(middle, keys.end(), less); });
        std::inplace_merge(keys.begin(), middle, keys.end(), less);
    }
    std::vector<uint32_t> keep;
    keep.reserve(keys.size());
    for (const Key& k : keys) keep.push_back(k.entry);
    rebuild(keep);
    ordered = true;
    sortedSize = entries.size();
}

namespace {

// Search through the cache, listed in the cache's standing order.
std::unique_ptr<SSol> searchCached(hashElemR* set, const std::string& text,
                                   const iVector& searchFields, const iVector& displayFields) {
    std::unique_ptr<SearchCache>& cache = set->cache;
    if (!cache || !cache->serves(searchFields, displayFields, set->keyField) ||
        cache->edits != gSetElemEdits) {
        cache = std::make_unique<SearchCache>(searchFields, displayFields, set->keyField);
        // In memory order, which for a set read from a file is the file's
        // order: the elements are then read from front to back, not at
        // random. The order of the entries is settled by the sort anyway.
        std::vector<nodoHash*> nodes;
        nodes.reserve(set->index->used);
        for (const KeyIndex::Slot& slot : set->index->slots) {
            if (slot.node != nullptr) nodes.push_back(slot.node);
        }
        std::sort(nodes.begin(), nodes.end(), std::less<nodoHash*>());
        cache->appendAll(nodes);
        cache->edits = gSetElemEdits;
    }
    cache->tidy();

    const void* nul = std::memchr(text.data(), '\0', text.size());
    const std::string_view pattern(
        text.data(), nul ? static_cast<size_t>(static_cast<const char*>(nul) - text.data()) : text.size());
    const std::vector<uint8_t> hit = cachedMatches(*cache, pattern);

    // The results in listing order. Where each one's key and text go in the
    // result's buffer is known before anything is copied, so that a large
    // result is copied by two threads.
    auto sol = newSSol();
    const size_t hits = static_cast<size_t>(std::count(hit.begin(), hit.end(), uint8_t{1}));
    std::vector<uint32_t> picked;
    picked.reserve(hits);
    sol->items.reserve(hits);
    size_t total = 0;
    for (uint32_t i : cache->order) {
        if (!hit[i]) continue;
        const std::string_view key = cache->keyOf(i);
        const uint32_t textSize = cache->entries[i].displaySize;
        sol->items.push_back(SSol::Item{total, static_cast<uint32_t>(key.size()), textSize});
        picked.push_back(i);
        total += key.size() + textSize;
    }
    char* const bytes = sol->bytes.extend(total);
    const auto copy = [&sol, &picked, &cache, bytes](size_t from, size_t to) {
        for (size_t k = from; k < to; ++k) {
            const SSol::Item& item = sol->items[k];
            const std::string_view key = cache->keyOf(picked[k]);
            const std::string_view text = cache->displayOf(picked[k]);
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

}  // namespace

std::unique_ptr<SSol> searchHashE(hashElemR* set, const std::string& text,
                                  const iVector& searchFields, const iVector& displayFields) {
    if (set->indexed && set->index && set->index->used == static_cast<size_t>(set->count)) {
        return searchCached(set, text, searchFields, displayFields);
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
