#pragma once

#include "platform/OpticalDrives.h"

namespace corva::platform {

// Drive-letter systems: a path is on an optical drive when its first character,
// in either case, is one of the letters found.
class DriveLetterOpticalDrives final : public OpticalDrives
{
public:
    explicit DriveLetterOpticalDrives(std::string letters);
    std::string CdromDrives() const override { return m_letters; }
    bool IsOnOpticalDrive(const std::string &path) const override;

private:
    std::string m_letters;
};

} // namespace corva::platform
