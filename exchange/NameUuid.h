// Name-based UUIDs (version 5: SHA-1 over a namespace and a name), so that the
// same name always gives the same identifier on any machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace contavio {

using Uuid = std::array<uint8_t, 16>;

// SHA-1 digest of data.
std::array<uint8_t, 20> sha1(std::string_view data);

// The version 5 UUID of name (its bytes as they are) in nameSpace, in the
// lower-case 8-4-4-4-12 text form.
std::string nameBasedUuid(const Uuid& nameSpace, std::string_view name);

}  // namespace contavio
