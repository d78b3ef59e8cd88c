// The set collection: the one object through which an application drives the
// store. It holds numbered slots, each with at most one keyed hash set and the
// results of the latest search on it, and one staging element that is filled
// and then committed into a slot by key.
//
// Broken preconditions make an operation do nothing rather than crash: a slot
// outside 0..nSets-1 (isEmpty reports it empty), an empty slot where a set is
// needed (lookups return false and leave errMsg/errCode alone), a slot
// without results (listResults leaves its outputs alone, resultCount gives
// 0), no staging element that is held and not yet committed (setObjData,
// addObjListItem and commitObj work only on such an element). The
// collection never replaces a set it holds: newSet, loadText and loadCrypt on
// an occupied slot do nothing, so they neither read a file nor show a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Elemento.h"
#include "SearchSolution.h"
#include "UhashElem.h"
#include "protoData.h"

namespace contavio {

class TConjuntos {
  public:
    explicit TConjuntos(int32_t nSets);
    TConjuntos(const TConjuntos&) = delete;
    TConjuntos& operator=(const TConjuntos&) = delete;
    // destroyHashE on every slot from 0 up (so an empty last slot leaves
    // ERR_NO_SET in the set's status pair), then an uncommitted staging
    // element and the results.
    virtual ~TConjuntos();

    // Slots.
    void newSet(int32_t slot, int32_t size, int32_t data, const std::string& name,
                int32_t keyField);
    void setSetProto(int32_t slot, const TprotoData& proto);
    bool isEmpty(int32_t slot) const;
    void delObj(int32_t slot, const std::string& key);
    // The readers put the set they read into an empty slot; see DataFiles.h
    // for their messages and run-time errors, which pass through unchanged (a
    // read that fails part way leaves the set read so far in the slot).
    // saveCrypt needs a set that has its schema. The three are defined in
    // persistence/ConjuntosFiles.cpp: a program that calls them links the
    // persistence library.
    void loadText(const std::string& fileName, int32_t slot);
    void saveCrypt(const std::string& fileName, int32_t slot, int32_t key);
    void loadCrypt(const std::string& fileName, int32_t slot, int32_t key);

    // The staging element: none -> held (newObj) -> committed (commitObj with
    // mode 0 or 1, the set owns it) -> none (releaseObj, which frees nothing a
    // set owns). newObj while an uncommitted element is held, and releaseObj
    // in that state, discard that element.
    void newObj(const TprotoData& proto);
    // Copies the first nInt, nStr and nFloat entries of the arrays into the
    // staging element's fields; an array with fewer entries fills only those.
    void setObjData(const iVector& ints, const sVector& strs, const fVector& floats);
    void addObjListItem(int32_t list, const std::string& text);
    // Mode 0: insert or replace by string key; mode 1: by integer key; any
    // other mode does nothing and the element stays held and uncommitted.
    void commitObj(int32_t slot, int32_t mode);
    void releaseObj();

    // Lookups by key, compared with string field `field` of the slot's set.
    // Found: the outputs get new copies and the result is true. Not found:
    // errMsg/errCode report it, the outputs are untouched, the result false.
    bool sObjInfo(const std::string& key, int32_t field, int32_t slot, iVector& ints, sVector& strs,
                  fVector& floats);
    bool sObjLists(const std::string& key, int32_t field, int32_t slot, iVector& counts,
                   sMatrix& lists);

    // Searching: the new results replace the slot's previous ones.
    void search(int32_t slot, const std::string& text, const iVector& searchFields,
                const iVector& displayFields);
    void listResults(int32_t slot, LineList& lines, std::optional<sVector>& texts,
                     std::optional<sVector>& keys);
    int32_t resultCount(int32_t slot) const;
    // What the slot's next search would do first, done now (settleSearchHashE):
    // for a caller with time to spare after a search, such as a window once shown.
    void settleSearch(int32_t slot);

    std::vector<hashElemR*> sets;  // owned; nullptr is an empty slot
    int32_t nSets = 0;
    TElem* obj = nullptr;                        // the staging element, or none
    std::vector<std::unique_ptr<SSol>> results;  // per slot, none before a search
    std::string errMsg;
    int32_t errCode;

  private:
    bool validSlot(int32_t slot) const;
    // The slot's set, or nullptr for an empty or invalid slot.
    hashElemR* setAt(int32_t slot) const;
    // The element under key, or nullptr with errMsg/errCode set when a set
    // is there but has no such element.
    TElem* findObj(const std::string& key, int32_t field, int32_t slot);
    std::unique_ptr<TElem> ownedObj_;  // the staging element while uncommitted
};

}  // namespace contavio
