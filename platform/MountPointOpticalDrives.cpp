#include "platform/MountPointOpticalDrives.h"

#include <sstream>
#include <utility>

namespace corva::platform {

namespace {

// The mount table writes blanks, tabs, newlines and backslashes as three octal digits.
std::string unescapeMountField(const std::string &field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

// Splits a path into its components, resolving "." and ".." lexically.
std::vector<std::string> components(const std::string &path)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(path);
    while (std::getline(in, part, '/')) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

} // namespace

MountPointOpticalDrives::MountPointOpticalDrives(std::vector<std::string> mountPoints, std::string currentDir)
    : m_mountPoints(std::move(mountPoints)), m_currentDir(std::move(currentDir))
{
}

std::vector<std::string> MountPointOpticalDrives::OpticalMountPoints(const std::string &mountsText)
{
    std::vector<std::string> points;
    std::istringstream lines(mountsText);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, fsType;
        if (!(fields >> device >> mountPoint >> fsType))
            continue;
        const bool opticalDevice = device.rfind("/dev/sr", 0) == 0;
        const bool opticalFs = fsType == "iso9660" || fsType == "udf";
        if (opticalDevice || opticalFs)
            points.push_back(unescapeMountField(mountPoint));
    }
    return points;
}

bool MountPointOpticalDrives::IsOnOpticalDrive(const std::string &path) const
{
    if (path.empty())
        return false;
    const std::string absolute = path.front() == '/' ? path : m_currentDir + "/" + path;
    const std::vector<std::string> target = components(absolute);
    for (const std::string &mount : m_mountPoints) {
        const std::vector<std::string> root = components(mount);
        if (root.size() > target.size())
            continue;
        bool inside = true;
        for (std::size_t i = 0; i < root.size() && inside; ++i)
            inside = root[i] == target[i];
        if (inside)
            return true;
    }
    return false;
}

} // namespace corva::platform
