#include "platform/MountPointOpticalDrives.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace corva::platform {

std::unique_ptr<OpticalDrives> ScanCdromDrives()
{
    std::ifstream mounts("/proc/self/mounts");
    const std::string text((std::istreambuf_iterator<char>(mounts)), std::istreambuf_iterator<char>());
    std::string cwd;
    if (char *dir = ::getcwd(nullptr, 0)) {
        cwd = dir;
        ::free(dir);
    }
    return std::make_unique<MountPointOpticalDrives>(MountPointOpticalDrives::OpticalMountPoints(text), cwd);
}

} // namespace corva::platform
