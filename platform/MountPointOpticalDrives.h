#pragma once

#include "platform/OpticalDrives.h"

#include <string>
#include <vector>

namespace corva::platform {

// Systems without drive letters: optical media are mount points (a /dev/sr* device, or an
// iso9660 or udf file system), and a path is on one when it lies inside such a mount point,
// compared by whole path components.
class MountPointOpticalDrives final : public OpticalDrives
{
public:
    explicit MountPointOpticalDrives(std::vector<std::string> mountPoints, std::string currentDir = {});

    // Reads the mount table text (the format of /proc/self/mounts).
    static std::vector<std::string> OpticalMountPoints(const std::string &mountsText);

    std::string CdromDrives() const override { return {}; }
    bool IsOnOpticalDrive(const std::string &path) const override;
    const std::vector<std::string> &MountPoints() const { return m_mountPoints; }

private:
    std::vector<std::string> m_mountPoints;
    std::string m_currentDir;
};

} // namespace corva::platform
