#pragma once

#include "widgets/DoubleClickFilter.h"

#include <Qt>

class QMouseEvent;

namespace vantel_xp {

// Which release makes a click: one of the primary button, let go over the click area, after
// a press of it that was not the second press of a double click.
class ClickTracker final
{
public:
    // Call for every press; false when it completes a double click, a press the buttons
    // ignore altogether (no MouseDown, no pressed face, no Click).
    bool Press(const QMouseEvent &press);
    // Call for every release; true when it makes a click. `overClickArea` is the button's
    // own hit test of where it was let go.
    bool Release(Qt::MouseButton button, bool overClickArea);

private:
    DoubleClickFilter m_doubleClick;
    bool m_clickPending = false;
};

} // namespace vantel_xp
