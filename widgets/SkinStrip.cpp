#include "widgets/SkinStrip.h"

#include <QtGlobal>

#include <array>

// The strips are compiled into this static library; registering them here makes any program
// that uses a strip pull the resource data in with it.
static void InitSkinResources()
{
    Q_INIT_RESOURCE(skins);
}

namespace vantel_xp {

SkinStrip::SkinStrip(const QString &resource, int columns)
    : m_columns(qMax(1, columns))
{
    static const bool registered = (InitSkinResources(), true);
    Q_UNUSED(registered);
    m_image = QImage(resource).convertToFormat(QImage::Format_RGB32);
    Q_ASSERT_X(!m_image.isNull(), "SkinStrip", qPrintable(resource));
    m_cellSize = QSize(m_image.width() / m_columns, m_image.height());
}

QImage SkinStrip::Cell(int index) const
{
    if (index < 0 || index >= m_columns)
        return {};
    return m_image.copy(index * m_cellSize.width(), 0, m_cellSize.width(), m_cellSize.height());
}

QString SkinStrip::PushButtonResource()
{
    return QStringLiteral(":/vantel_xp/xpcmdbutton.png");
}

QString SkinStrip::TitleBarResource(int glyphSet)
{
    static const std::array<const char *, 4> names{"close", "maximize", "minimize", "restore"};
    const int i = qBound(0, glyphSet, 3);
    return QStringLiteral(":/vantel_xp/xptopbuttons_%1.png").arg(QLatin1String(names[static_cast<std::size_t>(i)]));
}

QString SkinStrip::HelpResource()
{
    return QStringLiteral(":/vantel_xp/xphelp.png");
}

} // namespace vantel_xp
