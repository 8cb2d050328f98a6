#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace vantel_xp {

// A skin image divided into one row of equal cells, handed out by index.
class SkinStrip final
{
public:
    // `resource` is a path such as ":/vantel_xp/xphelp.png".
    SkinStrip(const QString &resource, int columns);

    QImage Cell(int index) const;
    QSize CellSize() const { return m_cellSize; }
    int Columns() const { return m_columns; }
    bool IsNull() const { return m_image.isNull(); }

    // Resource paths of the shipped strips.
    static QString PushButtonResource();
    static QString TitleBarResource(int glyphSet);
    static QString HelpResource();

private:
    QImage m_image;
    int m_columns = 1;
    QSize m_cellSize;
};

} // namespace vantel_xp
