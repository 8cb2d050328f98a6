#include "widgets/DoubleClickFilter.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

#include <cmath>

namespace vantel_xp {

bool DoubleClickFilter::IsSecondPress(const QMouseEvent &press)
{
    const QStyleHints *hints = QGuiApplication::styleHints();
    const quint64 now = press.timestamp();
    const QPointF pos = press.globalPosition();
    const bool second = m_armed && press.button() == m_button && now >= m_time
        && now - m_time < static_cast<quint64>(hints->mouseDoubleClickInterval())
        && std::abs(pos.x() - m_globalPos.x()) <= hints->mouseDoubleClickDistance()
        && std::abs(pos.y() - m_globalPos.y()) <= hints->mouseDoubleClickDistance();
    // A third press starts over, as a triple click is a double click and a single press.
    m_armed = !second;
    m_button = press.button();
    m_time = now;
    m_globalPos = pos;
    return second;
}

} // namespace vantel_xp
