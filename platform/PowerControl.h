#pragma once

namespace corva::platform {

// Switches the machine off. force: other programs are closed without being asked.
// Results are not reported: a refused shutdown simply leaves the machine running.
void ShutdownComputer(bool force);

// Keeps the machine from going to sleep while a run is in progress.
class SleepInhibitor
{
public:
    virtual ~SleepInhibitor() = default;
    virtual void Acquire() = 0;
    virtual void Release() = 0;
    virtual bool Held() const = 0;
};

// The platform's inhibitor; one that does nothing where the platform offers none.
SleepInhibitor *SystemSleepInhibitor();

} // namespace corva::platform
