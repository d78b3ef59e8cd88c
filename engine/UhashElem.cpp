#include "UhashElem.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "Constantes.h"
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

namespace {

void setStatus(const std::string& msg, int32_t code) {
    hashErrMsg = msg;
    hashErrCode = code;
}

// Unlinks every chain head first, so that no chain unwinds recursively.
void freeChains(std::vector<std::unique_ptr<nodoHash>>& table) {
    for (auto& head : table) {
        while (head) head = std::move(head->next);
    }
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

hashElemR::~hashElemR() { freeChains(table); }

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
        // The replaced node dies inside; the slot is re-pointed without reading it.
        slot.node = insertOrReplace(set, b, std::move(element), found);
        if (found == nullptr) ++set->index->used;
        return;
    }
    nodoHash* found = walkForString(set, b, field, key);
    insertOrReplace(set, b, std::move(element), found);
}

void addIHashE(std::unique_ptr<TElem> element, hashElemR* set) {
    // The string index cannot follow integer keys: drop it for good.
    set->indexed = false;
    set->index.reset();
    const size_t field = static_cast<size_t>(set->keyField);
    const int32_t key = element->ints[field];
    int32_t b = modInt(key, set->size);
    // A negative key leaves a negative remainder; fold it into the table.
    if (b < 0) b += set->size;
    nodoHash* found = set->table[static_cast<size_t>(b)].get();
    while (found != nullptr && found->elem->ints[field] != key) found = found->next.get();
    insertOrReplace(set, b, std::move(element), found);
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
    if (index) index->erase(index->keyOf(match));
    if (match != head.get()) {
        // The head's element moves into the matched node, under its id, and
        // the head node leaves the chain: no predecessor is needed.
        if (index) index->repoint(index->keyOf(head.get()), match);
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

void destroyHashE(hashElemR*& set) {
    if (set == nullptr) {
        setStatus("ERROR @ destroyHashE (hashE): Conjunto vac\xEDo! (Hash = nil).", ERR_NO_SET);
        return;
    }
    set->index.reset();
    freeChains(set->table);
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

// The first eight bytes of a text, 'a'..'z' folded, as a big-endian number:
// comparing these compares the texts' beginnings in text order (a stored
// text holds no NUL, so the zero padding sorts a prefix first).
uint64_t foldedPrefix(const std::string& text) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) {
        unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - ('a' - 'A'));
        v = (v << 8) | c;
    }
    return v;
}

// Search through the index: elements are visited in index order, which
// overlaps their memory loads, and the results are then put in the order
// that a walk of the chains followed by a stable sort by text would give:
// text order, then bucket, then chain position (falling stamp).
std::unique_ptr<SSol> searchIndexed(hashElemR* set, const std::string& text,
                                    const iVector& searchFields, const iVector& displayFields) {
    struct Match {
        uint64_t prefix;
        uint64_t stamp;
        int32_t bucket;
        uint32_t item;
    };
    auto sol = newSSol();
    std::vector<Match> matches;
    std::vector<SSolData> found;
    const std::vector<KeyIndex::Slot>& slots = set->index->slots;
    const size_t keyField = static_cast<size_t>(set->keyField);
    for (size_t i = 0; i < slots.size(); ++i) {
        const nodoHash* node = slots[i].node;
        if (node == nullptr) continue;
        const TElem& e = *node->elem;
        if (!matchesAny(e, text, searchFields)) continue;
        SSolData data;
        data.key = e.strs[keyField];
        buildDisplay(e, displayFields, data.text);
        matches.push_back(Match{foldedPrefix(data.text), node->stamp, node->bucket,
                                static_cast<uint32_t>(found.size())});
        found.push_back(std::move(data));
    }
    std::sort(matches.begin(), matches.end(), [&](const Match& a, const Match& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        const int c = compareSSolText(found[a.item].text, found[b.item].text);
        if (c != 0) return c < 0;
        if (a.bucket != b.bucket) return a.bucket < b.bucket;
        return a.stamp > b.stamp;
    });
    sol->items.reserve(matches.size());
    for (const Match& m : matches) sol->items.push_back(std::move(found[m.item]));
    sol->count = static_cast<int32_t>(sol->items.size());
    sol->sorted = true;
    return sol;
}

}  // namespace

std::unique_ptr<SSol> searchHashE(hashElemR* set, const std::string& text,
                                  const iVector& searchFields, const iVector& displayFields) {
    if (set->indexed && set->index && set->index->used == static_cast<size_t>(set->count)) {
        return searchIndexed(set, text, searchFields, displayFields);
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
