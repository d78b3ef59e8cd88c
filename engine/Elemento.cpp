#include "Elemento.h"

#include <algorithm>

#include "SetEdits.h"
#include "basicOps.h"

namespace contavio {

std::atomic<uint64_t> gSetElemEdits{0};
std::atomic<uint64_t> gSetKeyEdits{0};

TElem::~TElem() {
    ints.clear();
    strs.clear();
    floats.clear();
    for (strList*& list : strLists) {
        if (list != nullptr) freeStrList(list);
    }
    for (intList*& list : intLists) freeIntList(list);
}

void TElem::setProto(const TprotoData& proto) {
    proto.getData(nInt, nStr, nFloat);
    ints.assign(static_cast<size_t>(std::max(nInt, 0)), 0);
    strs.assign(static_cast<size_t>(std::max(nStr, 0)), std::string());
    floats.assign(static_cast<size_t>(std::max(nFloat, 0)), 0.0f);

    proto.getListData(nIntList, nStrList, nFloatList);
    for (intList*& list : intLists) freeIntList(list);
    for (strList*& list : strLists) {
        if (list != nullptr) freeStrList(list);
    }
    intLists.assign(static_cast<size_t>(std::max(nIntList, 0)), nullptr);
    strLists.assign(static_cast<size_t>(std::max(nStrList, 0)), nullptr);
    for (intList*& list : intLists) list = newIntList();
    for (strList*& list : strLists) list = newStrList();
}

std::unique_ptr<TprotoData> TElem::getProto() const {
    auto proto = std::make_unique<TprotoData>();
    proto->setData(nInt, nStr, nFloat);
    proto->setListData(nIntList, nStrList, nFloatList);
    return proto;
}

void TElem::getStr(int32_t index, std::string& text) const {
    text = copyStr(strs[static_cast<size_t>(index)]);
}

int32_t TElem::getInt(int32_t index) const { return ints[static_cast<size_t>(index)]; }

float TElem::getFloat(int32_t index) const { return floats[static_cast<size_t>(index)]; }

void TElem::setStr(int32_t index, const std::string& text) {
    std::string& field = strs[static_cast<size_t>(index)];
    std::string value = copyStr(text);
    if (index == keyedBy && value != field) gSetKeyEdits.fetch_add(1, std::memory_order_relaxed);
    field = std::move(value);
    if (inSet) noteSetElemEdit(this);
}

void TElem::setInt(int32_t index, int32_t value) { ints[static_cast<size_t>(index)] = value; }

void TElem::setFloat(int32_t index, float value) { floats[static_cast<size_t>(index)] = value; }

sVector TElem::getStrs() const {
    sVector out;
    out.reserve(strs.size());
    for (const std::string& s : strs) out.push_back(copyStr(s));
    return out;
}

iVector TElem::getInts() const { return ints; }

fVector TElem::getFloats() const { return floats; }

void TElem::addStrListItem(const std::string& text, int32_t list) {
    pushStrList(strLists[static_cast<size_t>(list)], text);
}

void TElem::addIntListItem(int32_t value, int32_t list) {
    pushIntList(intLists[static_cast<size_t>(list)], value);
}

void TElem::addFloatListItem(float /*value*/, int32_t /*list*/) {}

void TElem::getStrList(int32_t list, int32_t& count, sVector& values) const {
    strList* l = strLists[static_cast<size_t>(list)];
    count = countStrList(l);
    values.assign(static_cast<size_t>(count), std::string());
    firstStrList(l);
    for (int32_t i = 0; i < count; ++i) {
        curStrList(l, values[static_cast<size_t>(i)]);
        nextStrList(l);
    }
}

void TElem::getIntList(int32_t list, int32_t& count, iVector& values) const {
    intList* l = intLists[static_cast<size_t>(list)];
    count = countIntList(l);
    values.assign(static_cast<size_t>(count), 0);
    firstIntList(l);
    for (int32_t i = 0; i < count; ++i) {
        values[static_cast<size_t>(i)] = curIntList(l);
        nextIntList(l);
    }
}

void TElem::getStrLists(iVector& counts, sMatrix& lists) const {
    if (nStrList <= 0) return;
    counts.assign(static_cast<size_t>(nStrList), 0);
    lists.assign(static_cast<size_t>(nStrList), sVector());
    for (size_t i = 0; i < static_cast<size_t>(nStrList); ++i) {
        int32_t n = 0;
        getStrList(static_cast<int32_t>(i), n, lists[i]);
        counts[i] = n;
    }
}

}  // namespace contavio
