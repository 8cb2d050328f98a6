#pragma once

#include "widgets/ClickTracker.h"
#include "widgets/HoverPoll.h"
#include "widgets/PointerSource.h"

#include <QSizeF>
#include <QTimer>
#include <QWidget>

#include <memory>

class QMouseEvent;

namespace vantel_xp {

// What every skinned button does with the pointer: a poll that notices it has left, since
// nothing reports that, and the way presses, releases and moves become the button's events
// and its one kind of click. Each button raises the events itself and picks its faces; it
// also decides when its poll runs.
class SkinnedButtonBase : public QWidget
{
    Q_OBJECT

public:
    // Null restores the real cursor.
    void SetPointerSource(std::shared_ptr<const PointerSource> source);
    // The poll; it stops once the pointer is seen outside.
    QTimer &HoverTimer() { return m_hover.Timer(); }

protected:
    // A mouse event's arguments, passed on by reference so that a handler may change them.
    struct MouseArgs
    {
        short button;
        short shift;
        float x;
        float y;
    };

    SkinnedButtonBase(QWidget *parent, int pollIntervalMs);

    // Called by the poll, which has stopped, once the pointer is outside.
    virtual void PointerLeft() = 0;
    // A press that counts: not the second press of a double click.
    virtual void ButtonDown(MouseArgs &args) = 0;
    // Every release, before it is known whether it made a click.
    virtual void ButtonUp(MouseArgs &args) = 0;
    virtual void Clicked() = 0;
    // A move inside EventArea().
    virtual void PointerMoved(MouseArgs &args) = 0;
    // A pointer coordinate as the mouse events carry it.
    virtual float ToEventUnits(double pixels) const = 0;
    // Where a move counts, in event units from the top-left corner, edges included.
    virtual QSizeF EventArea() const = 0;
    // Whether a release on the button itself was let go over its click area.
    virtual bool OverClickArea(const QMouseEvent &release) const = 0;

    // The wiring of the mouse handlers below, also for input a child passes on: positions
    // are taken from the event as it is, in its receiver's coordinates.
    void Press(const QMouseEvent &press);
    void Release(const QMouseEvent &release, bool overClickArea);
    // Starts the poll if it is not running, whether or not the move is inside.
    void Move(MouseArgs args);
    MouseArgs ArgsOf(const QMouseEvent &event, Qt::MouseButtons buttons) const;

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    HoverPoll m_hover;
    ClickTracker m_clicks;
};

} // namespace vantel_xp
