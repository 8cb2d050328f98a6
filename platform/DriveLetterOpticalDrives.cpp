#include "platform/DriveLetterOpticalDrives.h"

#include <utility>

namespace corva::platform {

DriveLetterOpticalDrives::DriveLetterOpticalDrives(std::string letters) : m_letters(std::move(letters)) {}

bool DriveLetterOpticalDrives::IsOnOpticalDrive(const std::string &path) const
{
    if (path.empty())
        return false;
    char first = path.front();
    if (first >= 'A' && first <= 'Z')
        first = static_cast<char>(first - 'A' + 'a');
    return m_letters.find(first) != std::string::npos;
}

} // namespace corva::platform
