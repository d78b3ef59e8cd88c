#include "Conjuntos.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "Constantes.h"
#include "FreeAside.h"
#include "Worker.h"

namespace contavio {

TConjuntos::TConjuntos(int32_t nSets)
    : sets(static_cast<size_t>(std::max<int32_t>(nSets, 0)), nullptr),
      nSets(std::max<int32_t>(nSets, 0)),
      errCode(ERR_OK) {
    results.resize(sets.size());
}

TConjuntos::~TConjuntos() {
    // Empty slots too: the status pair is left as destroyHashE leaves it.
    for (auto& set : sets) destroyHashE(set);
    ownedObj_.reset();
    obj = nullptr;
    results.clear();
}

bool TConjuntos::validSlot(int32_t slot) const { return slot >= 0 && slot < nSets; }

hashElemR* TConjuntos::setAt(int32_t slot) const {
    return validSlot(slot) ? sets[static_cast<size_t>(slot)] : nullptr;
}

void TConjuntos::newSet(int32_t slot, int32_t size, int32_t data, const std::string& name,
                        int32_t keyField) {
    if (!validSlot(slot) || !isEmpty(slot)) return;  // never drop a set silently
    sets[static_cast<size_t>(slot)] = newHashElem(size, data, name, keyField);
}

void TConjuntos::setSetProto(int32_t slot, const TprotoData& proto) {
    if (hashElemR* set = setAt(slot)) setProtoHashE(set, proto);
}

bool TConjuntos::isEmpty(int32_t slot) const { return setAt(slot) == nullptr; }

void TConjuntos::delObj(int32_t slot, const std::string& key) {
    if (hashElemR* set = setAt(slot)) delSHashE(key, set->keyField, set);
}

void TConjuntos::newObj(const TprotoData& proto) {
    ownedObj_ = std::make_unique<TElem>();  // an uncommitted predecessor goes here
    ownedObj_->setProto(proto);
    obj = ownedObj_.get();
}

void TConjuntos::setObjData(const iVector& ints, const sVector& strs, const fVector& floats) {
    if (!ownedObj_) return;
    int32_t nInt = 0, nStr = 0, nFloat = 0;
    ownedObj_->getProto()->getData(nInt, nStr, nFloat);
    // A short array fills only the fields it has entries for.
    const auto upTo = [](int32_t count, size_t size) {
        return std::min<int64_t>(count, static_cast<int64_t>(size));
    };
    for (int32_t i = 0; i < upTo(nInt, ints.size()); ++i) ownedObj_->setInt(i, ints[i]);
    for (int32_t i = 0; i < upTo(nStr, strs.size()); ++i) ownedObj_->setStr(i, strs[i]);
    for (int32_t i = 0; i < upTo(nFloat, floats.size()); ++i) ownedObj_->setFloat(i, floats[i]);
}

void TConjuntos::addObjListItem(int32_t list, const std::string& text) {
    if (ownedObj_) ownedObj_->addStrListItem(text, list);
}

void TConjuntos::commitObj(int32_t slot, int32_t mode) {
    hashElemR* set = setAt(slot);
    if (set == nullptr || !ownedObj_) return;
    if (mode == 0) {
        addSHashE(std::move(ownedObj_), set);
    } else if (mode == 1) {
        addIHashE(std::move(ownedObj_), set);
    }
}

void TConjuntos::releaseObj() {
    ownedObj_.reset();  // only an uncommitted element; a committed one is the set's
    obj = nullptr;
}

TElem* TConjuntos::findObj(const std::string& key, int32_t field, int32_t slot) {
    hashElemR* set = setAt(slot);
    if (set == nullptr) return nullptr;
    TElem* found = getSHashElem(key, field, set);
    if (found == nullptr) {
        errMsg = "Elemento " + key + " no encontrado en conjunto " + std::to_string(slot) +
                 " @ TConjuntos.sObjInfo (Conjuntos)";
        errCode = ERR_NOT_FOUND;
    }
    return found;
}

bool TConjuntos::sObjInfo(const std::string& key, int32_t field, int32_t slot, iVector& ints,
                          sVector& strs, fVector& floats) {
    const TElem* found = findObj(key, field, slot);
    if (found == nullptr) return false;
    ints = found->getInts();
    strs = found->getStrs();
    floats = found->getFloats();
    return true;
}

bool TConjuntos::sObjLists(const std::string& key, int32_t field, int32_t slot, iVector& counts,
                           sMatrix& lists) {
    const TElem* found = findObj(key, field, slot);
    if (found == nullptr) return false;
    found->getStrLists(counts, lists);
    return true;
}

void TConjuntos::search(int32_t slot, const std::string& text, const iVector& searchFields,
                        const iVector& displayFields) {
    hashElemR* set = setAt(slot);
    if (set == nullptr) return;
    std::unique_ptr<SSol> previous = searchHashE(set, text, searchFields, displayFields);
    previous.swap(results[static_cast<size_t>(slot)]);
    // A large previous result is freed off the caller's path.
    if (previous && countSSol(previous.get()) >= static_cast<int32_t>(kWorthASecondThread)) {
        const size_t bytes =
            sizeof(SSol) + previous->bytes.size() + previous->items.capacity() * sizeof(SSol::Item);
        freeAside(std::move(previous), bytes);
    }
}

void TConjuntos::listResults(int32_t slot, LineList& lines, std::optional<sVector>& texts,
                             std::optional<sVector>& keys) {
    if (!validSlot(slot) || !results[static_cast<size_t>(slot)]) return;
    listSSol(results[static_cast<size_t>(slot)].get(), lines, texts, keys);
}

void TConjuntos::settleSearch(int32_t slot) { settleSearchHashE(setAt(slot)); }

int32_t TConjuntos::resultCount(int32_t slot) const {
    if (!validSlot(slot) || !results[static_cast<size_t>(slot)]) return 0;
    return countSSol(results[static_cast<size_t>(slot)].get());
}

}  // namespace contavio
