// Shared constants of the record store: the status codes that every status
// pair (hashErrMsg/hashErrCode, TConjuntos::errMsg/errCode) carries.
#pragma once

#include <cstdint>

namespace contavio {

inline constexpr int32_t ERR_OK = -664;         // success
inline constexpr int32_t ERR_NOT_FOUND = -661;  // no element under the key
inline constexpr int32_t ERR_BAD_SIZE = -663;   // a set needs at least one bucket
inline constexpr int32_t ERR_NO_SET = -665;     // the reference holds no set

}  // namespace contavio
