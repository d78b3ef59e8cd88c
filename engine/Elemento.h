// An element: one record of the store, shaped after a schema (TprotoData),
// with integer, string and float fields and string and integer lists.
// Indexes are zero-based and not validated: callers derive them from the
// schema. Every string that enters or leaves goes through copyStr, so a
// stored value ends before the first NUL byte of the text it was made from.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IntListUnit.h"
#include "SmallBlocks.h"
#include "protoData.h"
#include "strListUnit.h"

namespace contavio {

using sVector = std::vector<std::string>;
using iVector = std::vector<int32_t>;
using fVector = std::vector<float>;
using BoolVector = std::vector<uint8_t>;  // one byte per flag
using sMatrix = std::vector<sVector>;

class TElem {
  public:
    CONTAVIO_SMALL_BLOCKS

    TElem() = default;
    TElem(const TElem&) = delete;
    TElem& operator=(const TElem&) = delete;
    // Frees every string list and integer list the element owns.
    virtual ~TElem();

    // Sizes the arrays after the schema (0, "", 0.0) and gives each list field
    // a new empty list. The element keeps no reference to the schema.
    // Called once, right after construction.
    void setProto(const TprotoData& proto);
    // A new schema with the element's six counts, owned by the caller.
    std::unique_ptr<TprotoData> getProto() const;

    void getStr(int32_t index, std::string& text) const;
    int32_t getInt(int32_t index) const;
    float getFloat(int32_t index) const;
    void setStr(int32_t index, const std::string& text);
    void setInt(int32_t index, int32_t value);
    void setFloat(int32_t index, float value);

    // Borrowed view of string field index, valid while the field is unchanged;
    // for readers that must not copy (search, file writer).
    const std::string& str(int32_t index) const { return strs[static_cast<size_t>(index)]; }

    // New arrays holding copies of the scalar fields, owned by the caller.
    sVector getStrs() const;
    iVector getInts() const;
    fVector getFloats() const;

    // Lists are stacks: the item added last comes first when read back.
    void addStrListItem(const std::string& text, int32_t list);
    void addIntListItem(int32_t value, int32_t list);
    // Float-list fields are counted but hold no values: this drops its input.
    void addFloatListItem(float value, int32_t list);

    // count := the list's item count; values := its items, newest first.
    void getStrList(int32_t list, int32_t& count, sVector& values) const;
    void getIntList(int32_t list, int32_t& count, iVector& values) const;
    // One count and one array per string list. Without string-list fields
    // (nStrList <= 0) both out-arguments keep whatever they held.
    void getStrLists(iVector& counts, sMatrix& lists) const;

    int32_t nInt = 0;
    int32_t nStr = 0;
    int32_t nFloat = 0;
    iVector ints;
    sVector strs;
    fVector floats;
    int32_t nStrList = 0;
    int32_t nIntList = 0;
    int32_t nFloatList = 0;          // counted only; no storage
    std::vector<strList*> strLists;  // owned, one per string-list field
    std::vector<intList*> intLists;  // owned, one per integer-list field

    // True while a keyed hash set owns the element. Its string fields are then
    // changed only through setStr, which counts the change so that the set's
    // search cache notices it.
    bool inSet = false;
    // The string field by which the owning set's key index finds the
    // element, or -1: setStr counts a change of it in gSetKeyEdits.
    int32_t keyedBy = -1;
};

// How many times setStr has changed an element owned by a set. Threads that
// work on sets of their own share it, so it is atomic; it only ever rises. A
// search compares it with the value its set's search cache was brought up to
// date at, and then asks the log of edits (SetEdits.h) which elements changed.
extern std::atomic<uint64_t> gSetElemEdits;

// How many times setStr has changed the key field of an element that a set
// finds through its key index. A set whose index was built at another value
// builds it again from its chains before it answers, so that its lookups
// find what a walk of the key's bucket finds. Shared by all threads, like
// gSetElemEdits: such an edit in one set makes the others check theirs once.
extern std::atomic<uint64_t> gSetKeyEdits;

}  // namespace contavio
