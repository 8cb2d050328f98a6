#pragma once

#include <QString>

namespace corva {

// Where the application folder is and how its paths are spelt on this platform.
class AppPaths final
{
public:
    // The folder of the running program, without a trailing separator.
    static QString AppDir();
    // "/" here; the Windows build writes "\".
    static QString Separator();
    static QString InAppDir(const QString &name);
};

} // namespace corva
