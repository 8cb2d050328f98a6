#pragma once

#include "widgets/SkinStrip.h"
#include "widgets/SmallGlyphButton.h"

namespace vantel_xp {

class PropertyBag;

// A 21 x 21 help button: a "?" with normal, hover and pressed cells. Its mouse events give
// X and Y in twips (15 per pixel). Arguments are passed by reference; connect directly.
class xphelp final : public SmallGlyphButton
{
    Q_OBJECT

public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kSideTwips = kSide * kTwipsPerPixel;

    explicit xphelp(QWidget *parent = nullptr);

    // First placement: nothing to set, the fresh state is the default.
    void InitProperties() {}
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

Q_SIGNALS:
    void Click();
    void MouseOut();
    void MouseDown(short &Button, short &Shift, float &X, float &Y);
    void MouseMove(short &Button, short &Shift, float &X, float &Y);
    void MouseUp(short &Button, short &Shift, float &X, float &Y);

protected:
    const SkinStrip &Strip() const override { return m_strip; }
    float ToEventUnits(double pixels) const override;
    QSizeF EventArea() const override;
    // The pressed cell stays through MouseUp; only a click puts the normal one back.
    bool NormalOnRelease() const override { return false; }
    bool NormalOnClick() const override { return true; }
    // No ApplyEnabledLook: without a disabled cell, SetEnabled keeps whatever was shown last.

private:
    SkinStrip m_strip;
};

} // namespace vantel_xp
