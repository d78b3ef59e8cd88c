// Feeds arbitrary bytes to one of the two database file readers, as a
// damaged or hostile data.vlt / contact.txt would. Built twice: fuzz_loadCrypt
// reads the bytes with loadCryptHashE (key 853), fuzz_loadText with
// loadTextHashE (CONTAVIO_FUZZ_TEXT_FILE).
//
// A run-time error (std::runtime_error and its kin) is an expected outcome of
// a bad file; anything else escaping the reader, a sanitizer report or a
// broken invariant of the set it leaves behind is a fault. When the reader
// succeeds, the set is saved and read back, and must come back equal.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "FuzzSupport.h"
#include "engine/Constantes.h"
#include "engine/Platform.h"
#include "engine/UhashElem.h"
#include "engine/basicOps.h"
#include "persistence/DataFiles.h"

using namespace contavio;
using namespace contavio::fuzz;

namespace {

constexpr int32_t kKey = 853;

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    CHECK(f != nullptr);
    CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    CHECK(std::fclose(f) == 0);
}

void read(const std::string& path, hashElemR*& set) {
#ifdef CONTAVIO_FUZZ_TEXT_FILE
    loadTextHashE(path, set);
#else
    loadCryptHashE(path, set, kKey);
#endif
}

void checkStrList(const strList* list) {
    CHECK(list != nullptr);
    int32_t n = 0;
    const nodoStrList* last = nullptr;
    for (const nodoStrList* node = list->head.get(); node != nullptr; node = node->next.get()) {
        ++n;
        last = node;
    }
    CHECK(n == list->count);
    CHECK(last == list->tail);
}

void checkIntList(const intList* list) {
    CHECK(list != nullptr);
    int32_t n = 0;
    const nodoIntList* last = nullptr;
    for (const nodoIntList* node = list->head.get(); node != nullptr; node = node->next.get()) {
        ++n;
        last = node;
    }
    CHECK(n == list->count);
    CHECK(last == list->tail);
}

// What any value read from a file must look like: never a NUL byte (values
// pass through copyStr), never a line feed (it ends a line), and after the
// cipher only bytes 32..255.
void checkValue(const std::string& text) {
    for (unsigned char c : text) {
        CHECK(c != 0);
        CHECK(c != '\n');
#ifndef CONTAVIO_FUZZ_TEXT_FILE
        CHECK(c >= 32);
#endif
    }
}

// The set's own invariants: the kept count is the number of nodes, every
// element sits in the bucket of its key, keys are unique, and every element is
// shaped after the set's schema.
void checkSet(const hashElemR& set) {
    CHECK(set.size >= 1);
    CHECK(set.table.size() == static_cast<size_t>(set.size));
    checkValue(set.name);
    std::set<std::string> keys;
    int32_t walked = 0;
    for (size_t b = 0; b < set.table.size(); ++b) {
        for (const nodoHash* node = set.table[b].get(); node != nullptr; node = node->next.get()) {
            ++walked;
            CHECK(node->elem != nullptr);
            const TElem& e = *node->elem;
            CHECK(set.proto != nullptr);
            const TprotoData& p = *set.proto;
            CHECK(e.nStr == p.nStr && e.nInt == p.nInt && e.nFloat == p.nFloat);
            CHECK(e.nStrList == p.nStrList && e.nIntList == p.nIntList);
            CHECK(e.nFloatList == p.nFloatList);
            CHECK(e.strs.size() == static_cast<size_t>(p.nStr));
            CHECK(e.ints.size() == static_cast<size_t>(p.nInt));
            CHECK(e.floats.size() == static_cast<size_t>(p.nFloat));
            CHECK(e.strLists.size() == static_cast<size_t>(p.nStrList));
            CHECK(e.intLists.size() == static_cast<size_t>(p.nIntList));
            for (const std::string& s : e.strs) checkValue(s);
            for (const strList* l : e.strLists) {
                checkStrList(l);
                for (const nodoStrList* n = l->head.get(); n != nullptr; n = n->next.get())
                    checkValue(n->value);
            }
            for (const intList* l : e.intLists) checkIntList(l);
            CHECK(set.keyField >= 0 && set.keyField < e.nStr);
            const std::string& key = e.strs[static_cast<size_t>(set.keyField)];
            CHECK(hashStr(key, set.size) == static_cast<int32_t>(b));
            CHECK(keys.insert(key).second);
        }
    }
    CHECK(walked == set.count);
    CHECK(set.count == countHashE(&set));
}

// A value as it comes back through the cipher: bytes below 32 return 224
// higher (a loaded text file may hold tabs and lone carriage returns).
std::string throughCipher(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32) c = static_cast<char>(u + 224);
    }
    return out;
}

// Floats go to the file with two decimals and come back as the nearest float.
// Which way an exact tie (0.125) rounds is the writer's choice, so either
// neighbour of the value may decide it.
bool floatCameBack(float orig, float back) {
    const double v = orig;
    for (double nudged : {v, std::nextafter(v, 1e300), std::nextafter(v, -1e300)}) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", nudged);
        if (std::strtof(text, nullptr) == back) return true;
    }
    return false;
}

bool floatsRoundTrip(const hashElemR& set) {
    for (const auto& head : set.table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            for (float f : node->elem->floats) {
                if (!std::isfinite(f) || std::fabs(f) >= 1e18f) return false;
            }
        }
    }
    return true;
}

sVector strItems(const strList* list) {
    sVector items;
    for (const nodoStrList* n = list->head.get(); n != nullptr; n = n->next.get())
        items.push_back(n->value);
    return items;
}

iVector intItems(const intList* list) {
    iVector items;
    for (const nodoIntList* n = list->head.get(); n != nullptr; n = n->next.get())
        items.push_back(n->value);
    return items;
}

// True when `back`, read from the file saved from `orig`, holds orig's
// values (through the cipher) with every list in reverse order.
bool sameAfterSave(const TElem& orig, const TElem& back) {
    if (back.strs.size() != orig.strs.size()) return false;
    for (size_t i = 0; i < orig.strs.size(); ++i) {
        if (back.strs[i] != throughCipher(orig.strs[i])) return false;
    }
    if (back.ints != orig.ints) return false;
    if (back.floats.size() != orig.floats.size()) return false;
    for (size_t i = 0; i < orig.floats.size(); ++i) {
        if (!floatCameBack(orig.floats[i], back.floats[i])) return false;
    }
    for (size_t j = 0; j < orig.strLists.size(); ++j) {
        sVector want = strItems(orig.strLists[j]);
        for (std::string& s : want) s = throughCipher(s);
        const sVector got = strItems(back.strLists[j]);
        if (!std::equal(want.rbegin(), want.rend(), got.begin(), got.end())) return false;
    }
    for (size_t j = 0; j < orig.intLists.size(); ++j) {
        const iVector want = intItems(orig.intLists[j]);
        const iVector got = intItems(back.intLists[j]);
        if (!std::equal(want.rbegin(), want.rend(), got.begin(), got.end())) return false;
    }
    return true;
}

// Saves a set the reader accepted and reads it back with the encrypted
// reader. Keys that meet through the cipher (a tab and code 233) collapse into
// one element, the later in file order, so each element read back must match
// one of the originals that share its key.
void checkSaveAndReload(const hashElemR& orig) {
    if (orig.proto == nullptr || orig.proto->nFloatList != 0) return;  // no float-list lines
    if (!floatsRoundTrip(orig)) return;  // text form of huge floats is not fixed

    const std::string path = scratch() + "/again.vlt";
    saveCryptHashE(path, const_cast<hashElemR*>(&orig), kKey);
    hashElemR* back = nullptr;
    loadCryptHashE(path, back, kKey);
    CHECK(back != nullptr);
    checkSet(*back);

    CHECK(back->name == throughCipher(orig.name));
    CHECK(back->data == orig.data);
    CHECK(back->keyField == orig.keyField);
    const TprotoData& p = *orig.proto;
    const TprotoData& q = *back->proto;
    CHECK(p.nStr == q.nStr && p.nInt == q.nInt && p.nFloat == q.nFloat);
    CHECK(p.nStrList == q.nStrList && p.nIntList == q.nIntList && p.nFloatList == q.nFloatList);
    CHECK(back->size == 2 * orig.count + 1);

    std::map<std::string, std::vector<const TElem*>> byKey;
    for (const auto& head : orig.table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            const std::string& key = node->elem->strs[static_cast<size_t>(orig.keyField)];
            byKey[throughCipher(key)].push_back(node->elem.get());
        }
    }
    CHECK(back->count == static_cast<int32_t>(byKey.size()));
    for (const auto& head : back->table) {
        for (const nodoHash* node = head.get(); node != nullptr; node = node->next.get()) {
            auto it = byKey.find(node->elem->strs[static_cast<size_t>(back->keyField)]);
            CHECK(it != byKey.end());
            bool matched = false;
            for (const TElem* candidate : it->second) {
                if (sameAfterSave(*candidate, *node->elem)) matched = true;
            }
            CHECK(matched);
        }
    }
    destroyHashE(back);
    CHECK(back == nullptr);
    ::unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = scratch() + "/input";
    writeFile(path, data, size);

    // A marker in the status pair shows whether the reader touched it.
    hashErrMsg = "unchanged";
    hashErrCode = 12345;

    hashElemR* set = nullptr;
    bool failed = false;
    try {
        read(path, set);
    } catch (const ConvertError&) {
        // A conversion error leaves the status pair as it was.
        CHECK(hashErrMsg == "unchanged" && hashErrCode == 12345);
        failed = true;
    } catch (const std::runtime_error&) {
        failed = true;
    }

    if (!failed) {
        // The file exists, so a read that did not fail made a set.
        CHECK(set != nullptr);
        CHECK(hashErrMsg.empty() && hashErrCode == ERR_OK);
        // The table was sized for the header's count, and duplicate keys only
        // make the set smaller.
        CHECK(set->size % 2 == 1 && set->count <= (set->size - 1) / 2);
    }
    if (set != nullptr) {
        checkSet(*set);
        if (!failed) checkSaveAndReload(*set);
        destroyHashE(set);
        CHECK(set == nullptr);
    }
    ::unlink(path.c_str());
    return 0;
}
