#include "platform/Win32Registry.h"

#include <windows.h>

namespace corva::platform {

namespace {

// Predefined roots are sign-extended 32-bit values: HKEY_LOCAL_MACHINE is
// 0xFFFFFFFF80000002 in a 64-bit process, not 0x80000002.
HKEY rootHandle(std::uint32_t root)
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

HKEY keyHandle(Registry::Key key)
{
    return reinterpret_cast<HKEY>(key);
}

} // namespace

long Win32Registry::OpenKey(std::uint32_t root, const std::string &path, std::uint32_t access,
                            Key &key)
{
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(rootHandle(root), path.c_str(), 0, access, &opened);
    key = reinterpret_cast<Key>(opened);
    return result;
}

long Win32Registry::QueryValue(Key key, const std::string &name, std::uint32_t &type,
                               unsigned char *data, std::uint32_t &size)
{
    DWORD valueType = 0;
    DWORD valueSize = size;
    const LONG result = RegQueryValueExA(keyHandle(key), name.c_str(), nullptr, &valueType, data,
                                         &valueSize);
    type = valueType;
    size = valueSize;
    return result;
}

long Win32Registry::CloseKey(Key key)
{
    return RegCloseKey(keyHandle(key));
}

} // namespace corva::platform

namespace corva {

std::unique_ptr<Registry> OpenSystemRegistry()
{
    return std::make_unique<platform::Win32Registry>();
}

} // namespace corva
