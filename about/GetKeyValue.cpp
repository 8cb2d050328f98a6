#include "about/GetKeyValue.h"

#include <algorithm>
#include <array>

namespace corva {

namespace {

std::string hexNumber(const unsigned char *data, std::uint32_t size)
{
    // The number is read from the raw bytes, little-endian: a high byte of 0 would look like
    // a final NUL to the text rule and be dropped.
    std::uint32_t number = 0;
    for (std::uint32_t i = std::min<std::uint32_t>(size, 4); i > 0; --i)
        number = (number << 8) | data[i - 1];
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    return "&h" + out;
}

} // namespace

bool GetKeyValue(Registry &registry, std::uint32_t keyRoot, const std::string &keyName,
                 const std::string &subKeyRef, std::string &keyVal)
{
    Registry::Key key = 0;
    if (registry.OpenKey(keyRoot, keyName, Registry::kReadAccess, key) != 0) {
        keyVal.clear();
        registry.CloseKey(key);
        return false;
    }

    std::array<unsigned char, 1024> buffer{};
    std::uint32_t size = buffer.size();
    std::uint32_t type = 0;
    if (registry.QueryValue(key, subKeyRef, type, buffer.data(), size) != 0) {
        keyVal.clear();
        registry.CloseKey(key);
        return false;
    }
    size = std::min<std::uint32_t>(size, buffer.size());

    std::string text(buffer.begin(), buffer.begin() + size);
    if (!text.empty() && text.back() == '\0')
        text.pop_back();

    if (type == Registry::kTypeText)
        keyVal = text;
    else if (type == Registry::kTypeNumber)
        keyVal = hexNumber(buffer.data(), size);

    registry.CloseKey(key);
    return true;
}

} // namespace corva
