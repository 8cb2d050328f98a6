#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <string>

namespace corva {

// Reads one registry value as text into keyVal and tells whether it was read.
// Text values come back without their final NUL; a number comes back as "&h" and its
// hexadecimal digits, most significant first, without leading zeros. A value of any other
// type counts as read but leaves keyVal as the caller passed it. A missing key or value
// empties keyVal. The key is closed in every case, also when it could not be opened.
bool GetKeyValue(Registry &registry, std::uint32_t keyRoot, const std::string &keyName,
                 const std::string &subKeyRef, std::string &keyVal);

} // namespace corva
