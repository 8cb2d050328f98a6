#include "widgets/ClickTracker.h"

#include <QMouseEvent>

namespace vantel_xp {

bool ClickTracker::Press(const QMouseEvent &press)
{
    if (m_doubleClick.IsSecondPress(press)) {
        m_clickPending = false;
        return false;
    }
    m_clickPending = press.button() == Qt::LeftButton;
    return true;
}

bool ClickTracker::Release(Qt::MouseButton button, bool overClickArea)
{
    const bool click = m_clickPending && button == Qt::LeftButton && overClickArea;
    // Another button's release leaves a primary press pending.
    if (button == Qt::LeftButton)
        m_clickPending = false;
    return click;
}

} // namespace vantel_xp
