#pragma once

#include "widgets/PointerSource.h"

#include <memory>

namespace vantel_xp {

// The real pointer: the global cursor position mapped into the widget.
class CursorPointerSource final : public PointerSource
{
public:
    QPoint ClientPosition(const QWidget &widget) const override;

    // One shared instance serves every widget that was given no other source.
    static std::shared_ptr<const PointerSource> Shared();
};

} // namespace vantel_xp
