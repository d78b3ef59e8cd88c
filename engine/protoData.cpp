#include "protoData.h"

namespace contavio {

void TprotoData::setData(int32_t nInt_, int32_t nStr_, int32_t nFloat_) {
    nInt = nInt_;
    nStr = nStr_;
    nFloat = nFloat_;
}

void TprotoData::setListData(int32_t nIntList_, int32_t nStrList_, int32_t nFloatList_) {
    nIntList = nIntList_;
    nStrList = nStrList_;
    nFloatList = nFloatList_;
}

void TprotoData::getData(int32_t& nInt_, int32_t& nStr_, int32_t& nFloat_) const {
    nInt_ = nInt;
    nStr_ = nStr;
    nFloat_ = nFloat;
}

void TprotoData::getListData(int32_t& nIntList_, int32_t& nStrList_, int32_t& nFloatList_) const {
    nIntList_ = nIntList;
    nStrList_ = nStrList;
    nFloatList_ = nFloatList;
}

std::unique_ptr<TprotoData> TprotoData::clone() const {
    auto copy = std::make_unique<TprotoData>();
    copy->setData(nInt, nStr, nFloat);
    copy->setListData(nIntList, nStrList, nFloatList);
    return copy;
}

}  // namespace contavio
