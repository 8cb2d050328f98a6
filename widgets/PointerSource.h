#pragma once

#include <QPoint>

class QWidget;

namespace vantel_xp {

// Where the pointer is, in a widget's client pixels. The buttons poll this to notice that
// the pointer has left them, since nothing tells them so; tests put a fake in its place.
class PointerSource
{
public:
    virtual ~PointerSource() = default;
    virtual QPoint ClientPosition(const QWidget &widget) const = 0;
};

} // namespace vantel_xp
