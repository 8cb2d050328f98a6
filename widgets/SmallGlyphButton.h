#pragma once

#include "widgets/ClickTracker.h"
#include "widgets/HoverPoll.h"
#include "widgets/PointerSource.h"

#include <QSizeF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace vantel_xp {

class PropertyBag;
class SkinStrip;

// What the 21 x 21 glyph buttons (xptopbuttons, xphelp) share: a fixed size of one cell
// drawn unscaled, hover tracking by a 10 ms poll of the pointer, presses, releases and
// clicks, and the stored "Enabled". Each button declares and raises its own events and
// says where it differs: the strip it draws from, the unit of X and Y, and when a press's
// face goes back to normal.
class SmallGlyphButton : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSide = 21; // pixels: 315 twips

    bool Enabled() const;
    void SetEnabled(bool enabled);

    // Null restores the real cursor.
    void SetPointerSource(std::shared_ptr<const PointerSource> source);
    // The 10 ms poll; it runs from creation until the pointer is seen outside.
    QTimer &HoverTimer() { return m_hover.Timer(); }

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
    // A pointer coordinate as the mouse events carry it.
    virtual float ToEventUnits(double pixels) const = 0;
    // Where a move counts, in event units from the top-left corner, edges included.
    virtual QSizeF EventArea() const = 0;
    // Whether a release shows the normal cell, before MouseUp.
    virtual bool NormalOnRelease() const = 0;
    // Whether a click shows the normal cell, before Click.
    virtual bool NormalOnClick() const = 0;
    // Run by SetEnabled once the state is set; a button without a disabled look keeps its cell.
    virtual void ApplyEnabledLook() {}

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    // A mouse event's arguments: `buttons`, the event's modifiers and position.
    struct MouseArgs
    {
        short button;
        short shift;
        float x;
        float y;
    };
    MouseArgs ArgsOf(const QMouseEvent &event, Qt::MouseButtons buttons) const;

    Events m_events;
    HoverPoll m_hover;
    ClickTracker m_clicks;
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
