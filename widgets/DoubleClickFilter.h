#pragma once

#include <QPointF>
#include <Qt>

class QMouseEvent;

namespace vantel_xp {

// Qt delivers the second press of a double click as an ordinary press followed by a
// double-click event. The buttons must treat that press as no press at all (no MouseDown,
// no pressed face), so they recognise it when it arrives, by the same time and distance
// rules Qt applies.
class DoubleClickFilter final
{
public:
    // Call for every press; true when this press completes a double click.
    bool IsSecondPress(const QMouseEvent &press);

private:
    Qt::MouseButton m_button = Qt::NoButton;
    quint64 m_time = 0;
    QPointF m_globalPos;
    bool m_armed = false;
};

} // namespace vantel_xp
