// The key index of a keyed hash set filled by string key: key field value ->
// the node holding it. Lookups, replacements and deletions by the key field
// use it instead of walking a chain; the byte-sum hash puts many keys of a
// large set in few buckets. A key changed through setStr on a stored element
// (gSetKeyEdits) makes the set build it again before it answers.
//
// Open addressing, linear probing, backward-shift deletion. The key is read
// through the node, so a node whose element changes (a deletion moves
// elements) stays findable once re-pointed. The index holds borrowed
// pointers to the set's nodes; the set keeps it in step with its chains
// (UhashElem.h says what a caller who edits chains by hand must do for that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "SmallBlocks.h"
#include "UhashElem.h"

namespace contavio {

struct KeyIndex {
    struct Slot {
        uint64_t hash = 0;
        nodoHash* node = nullptr;
    };

    explicit KeyIndex(size_t field)
        : field(field), keyEdits(gSetKeyEdits.load(std::memory_order_relaxed)) {
        slots.resize(16);
    }

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

    nodoHash* find(std::string_view key) const { return slots[probe(key, hashKey(key))].node; }

    // The slot for key, made room for: its node is the one stored under key,
    // or none, and the caller then stores a node there (and counts it).
    Slot& slotFor(std::string_view key) {
        if ((used + 1) * 4 > slots.size() * 3) grow();
        const uint64_t h = hashKey(key);
        Slot& s = slots[probe(key, h)];
        s.hash = h;
        return s;
    }

    // Points key at node. REQUIRES: key is present.
    void repoint(std::string_view key, nodoHash* node) {
        Slot& s = slots[probe(key, hashKey(key))];
        if (s.node != nullptr) s.node = node;
    }

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

    // Room for `more` keys beyond those held, made at once instead of by
    // doubling as they come.
    void reserve(size_t more) {
        size_t size = slots.size();
        while ((used + more) * 4 > size * 3) size *= 2;
        if (size != slots.size()) rehash(size);
    }

    void grow() { rehash(slots.size() * 2); }

    void rehash(size_t size) {
        std::vector<Slot> old;
        resizeOnHugePages(old, size);
        old.swap(slots);
        for (const Slot& s : old) {
            if (s.node == nullptr) continue;
            size_t i = s.hash & mask();
            while (slots[i].node != nullptr) i = (i + 1) & mask();
            slots[i] = s;
        }
    }

    size_t field;             // the string field whose values are the keys
    uint64_t keyEdits;        // gSetKeyEdits when it was made
    std::vector<Slot> slots;  // size is a power of two
    size_t used = 0;          // the nodes indexed: the set's count while in step
};

}  // namespace contavio
