#pragma once

#include <QString>

namespace corva {

// A program's title and three-part version, as shown in captions and the About box.
class AppInfo final
{
public:
    AppInfo(QString title, int major, int minor, int revision);

    static AppInfo Encoder();
    static AppInfo Joiner();

    const QString &Title() const { return m_title; }
    // "1.4.90": plain decimal numbers joined by dots.
    QString Version() const;
    // Title, one blank, version.
    QString Caption() const;

private:
    QString m_title;
    int m_major = 0;
    int m_minor = 0;
    int m_revision = 0;
};

} // namespace corva
