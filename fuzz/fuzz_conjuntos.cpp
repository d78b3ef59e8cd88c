// Drives a set collection the way the contact book does (one slot, a set of
// contacts with eight string fields and two string lists, keyed by field 0)
// with a sequence of operations read from the input, and checks every answer
// against a plain model of what the book should hold: a std::map from key to
// contact. Any disagreement aborts.
//
// Input: one byte for the bucket count, then operations, each an opcode byte
// followed by its arguments. A text is a header byte (length in the low five
// bits; the high bit maps each following byte onto a small alphabet of
// letters in both cases, accented letters and a blank, so that keys collide
// and searches match) and then its bytes. A key is a byte that either picks
// a key already in the model (high bit) or is followed by a new text. A
// search begins with a byte that picks its display fields: the book's own,
// or any of the fields, the key among them, or none.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "engine/Conjuntos.h"
#include "engine/Constantes.h"
#include "engine/Platform.h"
#include "engine/SearchSolution.h"
#include "engine/basicOps.h"
#include "persistence/DataFiles.h"

using namespace contavio;
using namespace contavio::fuzz;

namespace {

constexpr int32_t kKey = 853;
constexpr int32_t kData = 7;
constexpr int kFields = 8;
constexpr int kLists = 2;
constexpr int kMaxSaves = 3;  // file round trips per input, to keep runs fast
const iVector kSearchFields{1, 2, 3};
const iVector kDisplayFields{1, 2, 3};

// ---- The model -----------------------------------------------------------

struct Contact {
    sVector fields = sVector(kFields);
    std::vector<sVector> lists = std::vector<sVector>(kLists);  // in the order added
};

using Model = std::map<std::string, Contact>;

std::string upToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

std::string foldAZ(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Substring test of the search: an empty text holds nothing, an empty
// pattern is in every other text, only 'A'..'Z' are folded.
bool contains(const std::string& text, const std::string& pattern) {
    if (text.empty()) return false;
    if (pattern.empty()) return true;
    return foldAZ(upToNul(text)).find(foldAZ(upToNul(pattern))) != std::string::npos;
}

// Listing order: unsigned bytes with 'a'..'z' read as 'A'..'Z', a prefix first.
int compareText(const std::string& a, const std::string& b) {
    auto up = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u >= 'a' && u <= 'z') ? u - 32 : u;
    };
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (up(a[i]) != up(b[i])) return up(a[i]) < up(b[i]) ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int sign(int v) { return (v > 0) - (v < 0); }

std::string displayText(const Contact& c, const iVector& displayFields) {
    std::string text;
    for (int32_t f : displayFields) text += c.fields[static_cast<size_t>(f)] + " ";
    return text;
}

// The display fields of a search: the book's own, or any fields in any order
// (the key among them, or none at all), as a shape byte says.
iVector displayFieldsOf(uint8_t shape) {
    if (shape & 0x80) return kDisplayFields;
    iVector fields;
    for (int32_t f = 0; f < 7; ++f) {
        if (shape & (1u << f)) fields.push_back((f + shape) % kFields);
    }
    return fields;
}

// What a value becomes through the cipher: bytes below 32 return 224 higher.
std::string throughCipher(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32) c = static_cast<char>(u + 224);
    }
    return out;
}

// ---- The input -----------------------------------------------------------

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool more() const { return pos_ < size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    std::string text() {
        static constexpr char kAlphabet[] = "aAbBcC \xE1\xC1\xF1";
        const uint8_t header = byte();
        const size_t len = header & 0x1F;
        std::string out;
        for (size_t i = 0; i < len && more(); ++i) {
            const uint8_t b = byte();
            out += (header & 0x80) ? kAlphabet[b % (sizeof kAlphabet - 1)] : static_cast<char>(b);
        }
        return out;
    }

    std::string key(const Model& model) {
        const uint8_t how = byte();
        if ((how & 0x80) && !model.empty()) {
            auto it = model.begin();
            std::advance(it, byte() % model.size());
            std::string key = it->first;
            // A near miss: the same key with one letter's case turned.
            if ((how & 0x40) && !key.empty()) key[0] = static_cast<char>(key[0] ^ 0x20);
            return key;
        }
        return text();
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// ---- Checks against the store ---------------------------------------------

sVector strItems(const strList* list) {
    sVector items;
    for (const nodoStrList* n = list->head.get(); n != nullptr; n = n->next.get())
        items.push_back(n->value);
    return items;
}

sVector reversed(sVector v) {
    std::reverse(v.begin(), v.end());
    return v;
}

// Walks the set: the kept count is the number of nodes, every element sits
// in the bucket of its key, no key twice; returns the elements by key.
std::map<std::string, const TElem*> walk(const hashElemR& set) {
    CHECK(set.size >= 1 && set.table.size() == static_cast<size_t>(set.size));
    std::map<std::string, const TElem*> byKey;
    int32_t walked = 0;
    for (size_t b = 0; b < set.table.size(); ++b) {
        for (const nodoHash* node = set.table[b].get(); node != nullptr; node = node->next.get()) {
            ++walked;
            const TElem& e = *node->elem;
            CHECK(e.strs.size() == kFields && e.strLists.size() == kLists);
            const std::string& key = e.strs[0];
            CHECK(hashStr(key, set.size) == static_cast<int32_t>(b));
            CHECK(byKey.emplace(key, &e).second);
        }
    }
    CHECK(walked == set.count && walked == countHashE(&set));
    return byKey;
}

// In memory, lists read newest first.
void checkSetEqualsModel(const hashElemR& set, const Model& model) {
    const auto byKey = walk(set);
    CHECK(byKey.size() == model.size());
    for (const auto& [key, contact] : model) {
        auto it = byKey.find(key);
        CHECK(it != byKey.end());
        CHECK(it->second->strs == contact.fields);
        for (int j = 0; j < kLists; ++j) {
            CHECK(it->second->strLists[j]->count == static_cast<int32_t>(contact.lists[j].size()));
            CHECK(strItems(it->second->strLists[j]) == reversed(contact.lists[j]));
        }
    }
}

// A set read back from a saved file: values through the cipher and lists in
// the order they were added. Keys that meet through the cipher (a tab and
// code 233) collapse into one element, one of those that share the key.
void checkLoadedEqualsModel(const hashElemR& set, const Model& model) {
    CHECK(set.name == "Contacto" && set.data == kData && set.keyField == 0);
    CHECK(set.proto != nullptr);
    CHECK(set.proto->nStr == kFields && set.proto->nInt == 0 && set.proto->nFloat == 0);
    CHECK(set.proto->nStrList == kLists && set.proto->nIntList == 0 && set.proto->nFloatList == 0);
    CHECK(set.size == 2 * static_cast<int32_t>(model.size()) + 1);

    std::map<std::string, std::vector<const Contact*>> groups;
    for (const auto& [key, contact] : model) groups[throughCipher(key)].push_back(&contact);
    const auto byKey = walk(set);
    CHECK(byKey.size() == groups.size());
    for (const auto& [key, elem] : byKey) {
        auto it = groups.find(key);
        CHECK(it != groups.end());
        bool matched = false;
        for (const Contact* c : it->second) {
            bool same = true;
            for (int i = 0; i < kFields; ++i)
                same = same && elem->strs[i] == throughCipher(c->fields[i]);
            for (int j = 0; j < kLists; ++j) {
                sVector want = c->lists[j];
                for (std::string& s : want) s = throughCipher(s);
                same = same && strItems(elem->strLists[j]) == want;
            }
            matched = matched || same;
        }
        CHECK(matched);
    }
}

struct Listing {
    sVector lines;
    std::optional<sVector> texts;
    std::optional<sVector> keys;
};

Listing list(TConjuntos& conj) {
    VectorLineList lines;
    Listing out;
    conj.listResults(0, lines, out.texts, out.keys);
    out.lines = lines.lines;
    return out;
}

class Session {
  public:
    Session(Input& in, int32_t buckets) : in_(in), conj_(1) {
        proto_.setData(0, kFields, 0);
        proto_.setListData(0, kLists, 0);
        conj_.newSet(0, buckets, kData, "Contacto", 0);
        CHECK(!conj_.isEmpty(0));
        conj_.setSetProto(0, proto_);
    }

    void run() {
        // Before any search the slot has no results to list.
        CHECK(conj_.resultCount(0) == 0);
        Listing none;
        none.texts = sVector{"untouched"};
        VectorLineList lines;
        lines.lines = {"untouched"};
        conj_.listResults(0, lines, none.texts, none.keys);
        CHECK(lines.lines == sVector{"untouched"} && none.texts == sVector{"untouched"});

        while (in_.more()) {
            switch (in_.byte() % 8) {
                case 0:
                case 1:
                    add();
                    break;
                case 2:
                    remove();
                    break;
                case 3:
                    search();
                    break;
                case 4:
                    lookup();
                    break;
                case 5:
                    saveAndReload();
                    break;
                case 6:
                    stageWithoutCommit();
                    break;
                case 7:
                    relist();
                    break;
            }
            CHECK(countHashE(conj_.sets[0]) == static_cast<int32_t>(model_.size()));
        }
        checkSetEqualsModel(*conj_.sets[0], model_);
    }

  private:
    Contact readContact() {
        Contact c;
        c.fields[0] = in_.key(model_);
        for (int i = 1; i < kFields; ++i) c.fields[i] = in_.text();
        for (int j = 0; j < kLists; ++j) {
            const int n = in_.byte() % 4;
            for (int k = 0; k < n; ++k) c.lists[j].push_back(in_.text());
        }
        return c;
    }

    // Fills the staging element; `given` string fields go in, the rest stay "".
    void stage(const Contact& c, size_t given, bool listsFirst) {
        conj_.newObj(proto_);
        CHECK(conj_.obj != nullptr);
        const sVector strs(c.fields.begin(), c.fields.begin() + static_cast<long>(given));
        auto addLists = [&] {
            for (int j = 0; j < kLists; ++j) {
                for (const std::string& item : c.lists[j]) conj_.addObjListItem(j, item);
            }
        };
        if (listsFirst) addLists();
        conj_.setObjData(iVector{}, strs, fVector{});
        if (!listsFirst) addLists();
    }

    void add() {
        const uint8_t flags = in_.byte();
        const Contact c = readContact();
        const size_t given = (flags & 1) ? 1 + in_.byte() % kFields : kFields;
        stage(c, given, flags & 2);

        const std::string msg = hashErrMsg;
        const int32_t code = hashErrCode;
        conj_.commitObj(0, 0);
        CHECK(hashErrMsg == msg && hashErrCode == code);  // inserting reports nothing
        conj_.releaseObj();
        CHECK(conj_.obj == nullptr);

        Contact stored;
        for (size_t i = 0; i < given; ++i) stored.fields[i] = upToNul(c.fields[i]);
        for (int j = 0; j < kLists; ++j) {
            for (const std::string& item : c.lists[j]) stored.lists[j].push_back(upToNul(item));
        }
        model_[stored.fields[0]] = stored;
    }

    // A staging element committed with a mode other than 0 and 1 stays out
    // of the set, and releasing it (or staging another) discards it.
    void stageWithoutCommit() {
        const uint8_t flags = in_.byte();
        const Contact c = readContact();
        stage(c, kFields, false);
        const int32_t mode = (flags & 1) ? 2 + flags % 5 : -1 - flags % 3;
        conj_.commitObj(0, mode);
        CHECK(conj_.obj != nullptr);
        if (flags & 2) stage(c, kFields, true);
        conj_.releaseObj();
        CHECK(conj_.obj == nullptr);
    }

    void remove() {
        const std::string key = in_.key(model_);
        const bool present = model_.count(key) != 0;
        conj_.delObj(0, key);
        CHECK(hashErrCode == (present ? ERR_OK : ERR_NOT_FOUND));
        if (present) CHECK(hashErrMsg.empty());
        model_.erase(key);
    }

    void search() {
        const iVector display = displayFieldsOf(in_.byte());
        const std::string pattern = in_.text();
        std::multiset<std::pair<std::string, std::string>> want;
        for (const auto& [key, c] : model_) {
            bool hit = false;
            for (int32_t f : kSearchFields) hit = hit || contains(c.fields[f], pattern);
            if (hit) want.emplace(key, displayText(c, display));
        }
        conj_.search(0, pattern, kSearchFields, display);
        CHECK(conj_.resultCount(0) == static_cast<int32_t>(want.size()));

        const Listing got = list(conj_);
        if (want.empty()) {
            CHECK(got.lines == sVector{kNoMatchesLine});
            CHECK(!got.texts && !got.keys);
        } else {
            CHECK(got.texts && got.keys);
            CHECK(got.texts->size() == want.size() && got.keys->size() == want.size());
            CHECK(got.lines == *got.texts);
            std::multiset<std::pair<std::string, std::string>> have;
            for (size_t i = 0; i < got.keys->size(); ++i) {
                have.emplace((*got.keys)[i], (*got.texts)[i]);
            }
            CHECK(have == want);
            for (size_t i = 1; i < got.texts->size(); ++i) {
                const std::string& a = (*got.texts)[i - 1];
                const std::string& b = (*got.texts)[i];
                CHECK(compareText(a, b) <= 0);
                CHECK(sign(compareSSolText(a, b)) == compareText(a, b));
            }
        }
        last_ = got;
    }

    // Results are a snapshot: listing again, after any change, gives the
    // same lines as the search that made them.
    void relist() {
        if (!last_) return;
        const Listing got = list(conj_);
        CHECK(got.lines == last_->lines && got.texts == last_->texts && got.keys == last_->keys);
    }

    void lookup() {
        const std::string key = in_.key(model_);
        auto it = model_.find(key);
        const std::string msgBefore = conj_.errMsg;
        const int32_t codeBefore = conj_.errCode;
        const std::string notFound =
            "Elemento " + key + " no encontrado en conjunto 0 @ TConjuntos.sObjInfo (Conjuntos)";

        iVector ints{7};
        sVector strs{"untouched"};
        fVector floats{1.5f};
        const bool found = conj_.sObjInfo(key, 0, 0, ints, strs, floats);
        CHECK(found == (it != model_.end()));
        if (found) {
            CHECK(strs == it->second.fields && ints.empty() && floats.empty());
            CHECK(conj_.errMsg == msgBefore && conj_.errCode == codeBefore);
        } else {
            CHECK(ints == iVector{7} && strs == sVector{"untouched"} && floats == fVector{1.5f});
            CHECK(conj_.errCode == ERR_NOT_FOUND && conj_.errMsg == notFound);
        }

        iVector counts{9};
        sMatrix lists{{"untouched"}};
        CHECK(conj_.sObjLists(key, 0, 0, counts, lists) == found);
        if (found) {
            CHECK(counts.size() == kLists && lists.size() == kLists);
            for (int j = 0; j < kLists; ++j) {
                CHECK(counts[j] == static_cast<int32_t>(it->second.lists[j].size()));
                CHECK(lists[j] == reversed(it->second.lists[j]));
            }
        } else {
            CHECK(counts == iVector{9} && lists == sMatrix{{"untouched"}});
            CHECK(conj_.errCode == ERR_NOT_FOUND && conj_.errMsg == notFound);
        }
    }

    void saveAndReload() {
        if (saves_++ >= kMaxSaves) return;
        const std::string path = scratch() + "/book.vlt";
        conj_.saveCrypt(path, 0, kKey);
        TConjuntos fresh(1);
        fresh.loadCrypt(path, 0, kKey);
        CHECK(!fresh.isEmpty(0));
        CHECK(hashErrMsg.empty() && hashErrCode == ERR_OK);
        checkLoadedEqualsModel(*fresh.sets[0], model_);
        // Saving leaves the book itself as it was.
        checkSetEqualsModel(*conj_.sets[0], model_);
        ::unlink(path.c_str());
    }

    Input& in_;
    TConjuntos conj_;
    TprotoData proto_;
    Model model_;
    std::optional<Listing> last_;
    int saves_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setUpTarget();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    // Small tables give long chains; 256 is the book's own size.
    const uint8_t b = in.byte();
    const int32_t buckets = b >= 224 ? 256 : 1 + b % 16;
    Session session(in, buckets);
    session.run();
    return 0;
}
