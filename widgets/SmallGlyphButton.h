#pragma once

#include "widgets/SkinnedButtonBase.h"

#include <functional>

namespace vantel_xp {

class PropertyBag;
class SkinStrip;

// What the 21 x 21 glyph buttons (xptopbuttons, xphelp) share: a fixed size of one cell
// drawn unscaled, hover tracking by a 10 ms poll of the pointer, presses, releases and
// clicks, and the stored "Enabled". Each button declares and raises its own events and
// says where it differs: the strip it draws from, the unit of X and Y, and when a press's
// face goes back to normal. HoverTimer() is that poll; it runs from creation until the
// pointer is seen outside.
class SmallGlyphButton : public SkinnedButtonBase
{
    Q_OBJECT

public:
    static constexpr int kSide = 21; // pixels: 315 twips

    bool Enabled() const;
    void SetEnabled(bool enabled);

    QSize sizeHint() const override { return {kSide, kSide}; }

protected:
    // The cells every strip of these buttons has.
    static constexpr int kNormal = 0;
    static constexpr int kHover = 1;
    static constexpr int kPressed = 2;

    // The events, which each button declares as its own signals (so that their member
    // pointers name the button's class) under the names below.
    struct Events
    {
        std::function<void()> click;
        std::function<void()> mouseOut;
        std::function<void(short &, short &, float &, float &)> mouseDown;
        std::function<void(short &, short &, float &, float &)> mouseMove;
        std::function<void(short &, short &, float &, float &)> mouseUp;
    };
    // Called with `this` in a button's constructor: the pointer is only kept, for later.
    template <typename Button>
    static Events SignalsOf(Button *button);

    SmallGlyphButton(QWidget *parent, Events events);

    void ShowCell(int cell);
    void ReadEnabled(const PropertyBag &bag);
    void WriteEnabled(PropertyBag &bag) const;

    // The strip the shown cell comes from.
    virtual const SkinStrip &Strip() const = 0;
    // Each button also gives ToEventUnits() and EventArea().
    // Whether a release shows the normal cell, before MouseUp.
    virtual bool NormalOnRelease() const = 0;
    // Whether a click shows the normal cell, before Click.
    virtual bool NormalOnClick() const = 0;
    // Run by SetEnabled once the state is set; a button without a disabled look keeps its cell.
    virtual void ApplyEnabledLook() {}

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void PointerLeft() final;
    void ButtonDown(MouseArgs &args) final;
    void ButtonUp(MouseArgs &args) final;
    void Clicked() final;
    void PointerMoved(MouseArgs &args) final;
    bool OverClickArea(const QMouseEvent &release) const final;

    Events m_events;
    int m_cell = kNormal;
};

template <typename Button>
SmallGlyphButton::Events SmallGlyphButton::SignalsOf(Button *button)
{
    // Direct calls, so that a handler's changes to the arguments reach the caller.
    return {
        [button] { Q_EMIT button->Click(); },
        [button] { Q_EMIT button->MouseOut(); },
        [button](short &b, short &s, float &x, float &y) { Q_EMIT button->MouseDown(b, s, x, y); },
        [button](short &b, short &s, float &x, float &y) { Q_EMIT button->MouseMove(b, s, x, y); },
        [button](short &b, short &s, float &x, float &y) { Q_EMIT button->MouseUp(b, s, x, y); },
    };
}

} // namespace vantel_xp
