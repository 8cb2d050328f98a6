#include "common/AppPaths.h"

#include <QCoreApplication>
#include <QDir>

namespace corva {

QString AppPaths::AppDir()
{
    QString dir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    while (dir.size() > 1 && dir.endsWith(Separator()))
        dir.chop(1);
    return dir;
}

QString AppPaths::Separator()
{
    return QString(QDir::separator());
}

QString AppPaths::InAppDir(const QString &name)
{
    return AppDir() + Separator() + name;
}

} // namespace corva
