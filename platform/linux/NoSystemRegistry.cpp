#include "platform/Registry.h"

namespace corva {

// No registry here: the system-information lookup ends in its "unavailable" message.
std::unique_ptr<Registry> OpenSystemRegistry()
{
    return nullptr;
}

} // namespace corva
