// The schema of an element: how many fields of each kind it has. Fields have
// no names; they are addressed by a zero-based index within their kind.
#pragma once

#include <cstdint>
#include <memory>

namespace contavio {

class TprotoData {
  public:
    TprotoData() = default;
    TprotoData(const TprotoData&) = default;
    TprotoData& operator=(const TprotoData&) = default;
    virtual ~TprotoData() = default;

    void setData(int32_t nInt, int32_t nStr, int32_t nFloat);
    void setListData(int32_t nIntList, int32_t nStrList, int32_t nFloatList);
    void getData(int32_t& nInt, int32_t& nStr, int32_t& nFloat) const;
    void getListData(int32_t& nIntList, int32_t& nStrList, int32_t& nFloatList) const;
    // A new schema with the same six counts, owned by the caller.
    std::unique_ptr<TprotoData> clone() const;

    int32_t nInt = 0;
    int32_t nStr = 0;
    int32_t nFloat = 0;
    int32_t nIntList = 0;
    int32_t nStrList = 0;
    int32_t nFloatList = 0;
};

}  // namespace contavio
