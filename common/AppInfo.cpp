#include "common/AppInfo.h"

#include <utility>

namespace corva {

AppInfo::AppInfo(QString title, int major, int minor, int revision)
    : m_title(std::move(title)), m_major(major), m_minor(minor), m_revision(revision)
{
}

AppInfo AppInfo::Encoder()
{
    // The encoder's title ends in a blank, so its caption shows two before the version.
    return AppInfo(QStringLiteral("墨川Real凌波 "), 1, 4, 90);
}

AppInfo AppInfo::Joiner()
{
    return AppInfo(QStringLiteral("墨川Real凌波 影片合并工具"), 1, 0, 0);
}

QString AppInfo::Version() const
{
    return QStringLiteral("%1.%2.%3").arg(m_major).arg(m_minor).arg(m_revision);
}

QString AppInfo::Caption() const
{
    return m_title + u' ' + Version();
}

} // namespace corva
