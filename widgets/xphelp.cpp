#include "widgets/xphelp.h"

#include "widgets/PropertyBag.h"

namespace vantel_xp {

xphelp::xphelp(QWidget *parent)
    : SmallGlyphButton(parent, SignalsOf(this))
    , m_strip(SkinStrip::HelpResource(), 3)
{
}

void xphelp::ReadProperties(const PropertyBag &bag)
{
    ReadEnabled(bag);
}

void xphelp::WriteProperties(PropertyBag &bag) const
{
    WriteEnabled(bag);
}

float xphelp::ToEventUnits(double pixels) const
{
    return static_cast<float>(pixels * kTwipsPerPixel);
}

QSizeF xphelp::EventArea() const
{
    // The button's own extent in twips, which is fixed.
    return {kSideTwips, kSideTwips};
}

} // namespace vantel_xp
