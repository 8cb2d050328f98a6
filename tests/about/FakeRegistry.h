#pragma once

#include "platform/Registry.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace corva::test {

// An in-memory registry that behaves like the real one towards a standard user: keys under
// HKEY_LOCAL_MACHINE open for reading only. It records what it was asked.
class FakeRegistry final : public Registry
{
public:
    struct Value
    {
        std::uint32_t type = kTypeText;
        std::vector<unsigned char> data;
    };

    static Value Text(const std::string &text, bool withNul)
    {
        Value v;
        v.data.assign(text.begin(), text.end());
        if (withNul)
            v.data.push_back(0);
        return v;
    }
    static Value Raw(std::uint32_t type, std::vector<unsigned char> data)
    {
        return Value{type, std::move(data)};
    }

    void Set(const std::string &keyPath, const std::string &name, Value value)
    {
        m_keys[keyPath][name] = std::move(value);
    }

    long OpenKey(std::uint32_t root, const std::string &path, std::uint32_t access,
                 Key &key) override
    {
        opened.push_back(path);
        accesses.push_back(access);
        key = 0;
        if (root != kLocalMachine)
            return kNotFound;
        // Anything beyond KEY_READ (write, create, link...) is refused under HKLM.
        if ((access & ~kReadAccess) != 0)
            return kAccessDenied;
        const auto it = m_keys.find(path);
        if (it == m_keys.end())
            return kNotFound;
        m_open.push_back(&it->second);
        key = m_open.size(); // never 0
        return 0;
    }

    long QueryValue(Key key, const std::string &name, std::uint32_t &type, unsigned char *data,
                    std::uint32_t &size) override
    {
        queried.push_back(name);
        if (key == 0 || key > m_open.size())
            return 6; // ERROR_INVALID_HANDLE
        const auto &values = *m_open[key - 1];
        const auto it = values.find(name);
        if (it == values.end())
            return kNotFound;
        if (it->second.data.size() > size)
            return 234; // ERROR_MORE_DATA
        type = it->second.type;
        size = static_cast<std::uint32_t>(it->second.data.size());
        if (size != 0)
            std::memcpy(data, it->second.data.data(), size);
        return 0;
    }

    long CloseKey(Key key) override
    {
        closed.push_back(key);
        return key == 0 ? 6 : 0;
    }

    std::vector<std::string> opened;
    std::vector<std::uint32_t> accesses;
    std::vector<std::string> queried;
    std::vector<Key> closed;

private:
    std::map<std::string, std::map<std::string, Value>> m_keys;
    std::vector<std::map<std::string, Value> *> m_open;
};

} // namespace corva::test
