#pragma once

#include "platform/Registry.h"

#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace corva {

// What the system-information button needs from the machine. Tests replace each part, so
// that none starts a program or waits on a message box.
struct SysInfoServices
{
    std::shared_ptr<Registry> registry; // null: the platform has none
    std::function<bool(const QString &path)> fileExists;
    // Starts a command line without waiting; false when it could not be started.
    std::function<bool(const QString &commandLine)> startProgram;
    std::function<void(QWidget *parent, const QString &caption, const QString &text)> showMessage;

    // The machine's registry, the file system, detached processes and a plain message box
    // with only an OK button and no icon.
    static SysInfoServices System();
};

// Finds the system-information program through the registry and starts it, or tells the
// user it is unavailable. Never throws and never closes the caller.
void StartSysInfo(const SysInfoServices &services, QWidget *parent, const QString &caption);

// "此时系统信息不可用"
QString SysInfoUnavailableText();

} // namespace corva
