#include "widgets/CursorPointerSource.h"

#include <QCursor>
#include <QWidget>

namespace vantel_xp {

QPoint CursorPointerSource::ClientPosition(const QWidget &widget) const
{
    return widget.mapFromGlobal(QCursor::pos());
}

std::shared_ptr<const PointerSource> CursorPointerSource::Shared()
{
    static const auto source = std::make_shared<const CursorPointerSource>();
    return source;
}

} // namespace vantel_xp
