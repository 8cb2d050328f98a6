#include "platform/DriveLetterOpticalDrives.h"

#include <memory>
#include <string>
#include <windows.h>

namespace corva::platform {

std::unique_ptr<OpticalDrives> ScanCdromDrives()
{
    // d..z only: a, b and c are never optical drives worth asking about.
    std::string letters;
    for (int code = 100; code <= 122; ++code) {
        const char root[4] = {static_cast<char>(code), ':', '\\', '\0'};
        if (GetDriveTypeA(root) == 5) // DRIVE_CDROM
            letters += static_cast<char>(code);
    }
    return std::make_unique<DriveLetterOpticalDrives>(letters);
}

} // namespace corva::platform
