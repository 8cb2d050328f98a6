#pragma once

#include <memory>
#include <string>

namespace corva::platform {

// The optical drives seen once at start-up, and whether an output path lies on one of them.
class OpticalDrives
{
public:
    virtual ~OpticalDrives() = default;
    // Lower-case drive letters of the optical drives among d..z ("ef"); empty where the
    // platform has no drive letters.
    virtual std::string CdromDrives() const = 0;
    virtual bool IsOnOpticalDrive(const std::string &path) const = 0;
};

// Scans the machine's optical drives once.
std::unique_ptr<OpticalDrives> ScanCdromDrives();

} // namespace corva::platform
