#include "widgets/SkinnedButtonBase.h"

#include "widgets/EventArgs.h"

#include <QMouseEvent>

namespace vantel_xp {

SkinnedButtonBase::SkinnedButtonBase(QWidget *parent, int pollIntervalMs)
    : QWidget(parent)
    // Only ever called from a tick, long after construction.
    , m_hover(*this, pollIntervalMs, [this] { PointerLeft(); })
{
    // Moves without a button held are what start the poll.
    setMouseTracking(true);
}

void SkinnedButtonBase::SetPointerSource(std::shared_ptr<const PointerSource> source)
{
    m_hover.SetPointerSource(std::move(source));
}

SkinnedButtonBase::MouseArgs SkinnedButtonBase::ArgsOf(const QMouseEvent &event, Qt::MouseButtons buttons) const
{
    return {EventArgs::ButtonMask(buttons), EventArgs::ShiftMask(event.modifiers()), ToEventUnits(event.position().x()),
            ToEventUnits(event.position().y())};
}

void SkinnedButtonBase::Press(const QMouseEvent &press)
{
    // The second press of a double click: no MouseDown, no pressed face, no Click.
    if (!m_clicks.Press(press))
        return;
    MouseArgs a = ArgsOf(press, press.button());
    ButtonDown(a);
}

void SkinnedButtonBase::Release(const QMouseEvent &release, bool overClickArea)
{
    MouseArgs a = ArgsOf(release, release.button());
    ButtonUp(a);
    if (m_clicks.Release(release.button(), overClickArea))
        Clicked();
}

void SkinnedButtonBase::Move(MouseArgs args)
{
    // Started by any move, inside or not (a held button brings moves from outside too).
    m_hover.StartIfStopped();
    const QSizeF area = EventArea();
    if (EventArgs::Inside(args.x, args.y, area.width(), area.height()))
        PointerMoved(args);
}

void SkinnedButtonBase::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    Press(*event);
}

void SkinnedButtonBase::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    Release(*event, OverClickArea(*event));
}

void SkinnedButtonBase::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Already dealt with as the press before it; QWidget would treat it as one more press.
    event->accept();
}

void SkinnedButtonBase::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    Move(ArgsOf(*event, event->buttons()));
}

} // namespace vantel_xp
