#pragma once

#include <string>

namespace corva {

// A failure the system reported, in the user's words first and then the system's own text
// in brackets, for whoever has to look it up: "磁盘空间不足（No space left on device）". UTF-8.
class SystemError final
{
public:
    static std::string Text(int code);
};

} // namespace corva
