#include "platform/PowerControl.h"

#include <cstring>
#include <windows.h>

namespace corva::platform {

namespace {

bool IsNtPlatform()
{
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = 148;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&info);
#pragma GCC diagnostic pop
    return info.dwPlatformId == 2; // VER_PLATFORM_WIN32_NT
}

void EnableShutdownPrivilege()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), 0x28, &token); // TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
    LUID luid{};
    LookupPrivilegeValueA("", "SeShutdownPrivilege", &luid);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous;
    std::memset(&previous, 0, sizeof previous);
    DWORD returned = 0;
    AdjustTokenPrivileges(token, FALSE, &privileges, 16, &previous, &returned);
}

class ExecutionStateInhibitor final : public SleepInhibitor
{
public:
    void Acquire() override
    {
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
        m_held = true;
    }
    void Release() override
    {
        SetThreadExecutionState(ES_CONTINUOUS);
        m_held = false;
    }
    bool Held() const override { return m_held; }

private:
    bool m_held = false;
};

} // namespace

void ShutdownComputer(bool force)
{
    const UINT flags = force ? 5 : 1; // EWX_SHUTDOWN, with EWX_FORCE when forced
    if (IsNtPlatform())
        EnableShutdownPrivilege();
    ExitWindowsEx(flags, 0);
}

SleepInhibitor *SystemSleepInhibitor()
{
    static ExecutionStateInhibitor inhibitor;
    return &inhibitor;
}

} // namespace corva::platform
