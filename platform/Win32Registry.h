#pragma once

#include "platform/Registry.h"

namespace corva::platform {

// The machine's registry through RegOpenKeyExA, RegQueryValueExA and RegCloseKey.
class Win32Registry final : public Registry
{
public:
    long OpenKey(std::uint32_t root, const std::string &path, std::uint32_t access,
                 Key &key) override;
    long QueryValue(Key key, const std::string &name, std::uint32_t &type, unsigned char *data,
                    std::uint32_t &size) override;
    long CloseKey(Key key) override;
};

} // namespace corva::platform
