#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace corva {

// The few registry calls the About box makes, shaped like their Win32 counterparts so that
// the lookup reads the same against the real registry and against a test's fake.
// Every call returns 0 on success and a Win32 error code otherwise. Texts are in the
// system's ANSI code page.
class Registry
{
public:
    using Key = std::uintptr_t; // 0: no key

    static constexpr std::uint32_t kLocalMachine = 0x80000002u;
    // KEY_READ. Asking for more (KEY_ALL_ACCESS, 0x2003F) is refused to a standard user
    // under HKEY_LOCAL_MACHINE, and reading is all we do.
    static constexpr std::uint32_t kReadAccess = 0x20019u;
    static constexpr std::uint32_t kTypeText = 1;   // REG_SZ
    static constexpr std::uint32_t kTypeNumber = 4; // REG_DWORD
    static constexpr long kNotFound = 2;            // ERROR_FILE_NOT_FOUND
    static constexpr long kAccessDenied = 5;        // ERROR_ACCESS_DENIED

    virtual ~Registry() = default;

    virtual long OpenKey(std::uint32_t root, const std::string &path, std::uint32_t access,
                         Key &key) = 0;
    // size: the buffer's capacity in, the number of bytes written out.
    virtual long QueryValue(Key key, const std::string &name, std::uint32_t &type,
                            unsigned char *data, std::uint32_t &size) = 0;
    virtual long CloseKey(Key key) = 0;
};

// The machine's registry, or null on a platform that has none.
std::unique_ptr<Registry> OpenSystemRegistry();

} // namespace corva
