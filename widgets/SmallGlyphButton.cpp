#include "widgets/SmallGlyphButton.h"

#include "widgets/EventArgs.h"
#include "widgets/PropertyBag.h"
#include "widgets/SkinStrip.h"

#include <QMouseEvent>
#include <QPainter>

namespace vantel_xp {

SmallGlyphButton::SmallGlyphButton(QWidget *parent, Events events)
    : QWidget(parent)
    , m_events(std::move(events))
    , m_hover(*this, 10, [this] {
        m_events.mouseOut();
        if (Enabled())
            ShowCell(kNormal);
    })
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_hover.Timer().start();

    ShowCell(kNormal);
    setFixedSize(kSide, kSide);
}

bool SmallGlyphButton::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void SmallGlyphButton::SetEnabled(bool enabled)
{
    // Not reported to the host as changed.
    setEnabled(enabled);
    ApplyEnabledLook();
}

void SmallGlyphButton::SetPointerSource(std::shared_ptr<const PointerSource> source)
{
    m_hover.SetPointerSource(std::move(source));
}

void SmallGlyphButton::ShowCell(int cell)
{
    m_cell = cell;
    update();
}

void SmallGlyphButton::ReadEnabled(const PropertyBag &bag)
{
    SetEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
}

void SmallGlyphButton::WriteEnabled(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
}

void SmallGlyphButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, Strip().Cell(m_cell));
}

void SmallGlyphButton::resizeEvent(QResizeEvent *)
{
    // Whatever size was asked for, back to one cell, height first, then width.
    if (size() == QSize(kSide, kSide))
        return;
    setFixedHeight(kSide);
    setFixedWidth(kSide);
    // Qt does not apply a resize made from inside a resize event; apply it right after.
    if (size() != QSize(kSide, kSide)) {
        QMetaObject::invokeMethod(
            this, [this] {
                setFixedHeight(kSide);
                setFixedWidth(kSide);
                // The limits may already be in place, and then the two above do not resize.
                resize(kSide, kSide);
            },
            Qt::QueuedConnection);
    }
}

SmallGlyphButton::MouseArgs SmallGlyphButton::ArgsOf(const QMouseEvent &event, Qt::MouseButtons buttons) const
{
    return {EventArgs::ButtonMask(buttons), EventArgs::ShiftMask(event.modifiers()), ToEventUnits(event.position().x()),
            ToEventUnits(event.position().y())};
}

void SmallGlyphButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_clicks.Press(*event))
        return;
    ShowCell(kPressed);
    MouseArgs a = ArgsOf(*event, event->button());
    m_events.mouseDown(a.button, a.shift, a.x, a.y);
}

void SmallGlyphButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (NormalOnRelease())
        ShowCell(kNormal);
    MouseArgs a = ArgsOf(*event, event->button());
    m_events.mouseUp(a.button, a.shift, a.x, a.y);
    if (m_clicks.Release(event->button(), rect().contains(event->position().toPoint()))) {
        if (NormalOnClick())
            ShowCell(kNormal);
        m_events.click();
    }
}

void SmallGlyphButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    // Already dealt with as the press before it; QWidget would treat it as one more press.
    event->accept();
}

void SmallGlyphButton::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    m_hover.StartIfStopped();
    MouseArgs a = ArgsOf(*event, event->buttons());
    const QSizeF area = EventArea();
    if (!EventArgs::Inside(a.x, a.y, area.width(), area.height()))
        return;
    m_events.mouseMove(a.button, a.shift, a.x, a.y);
    // The handler may have changed Button.
    ShowCell(a.button == 1 ? kPressed : kHover);
}

} // namespace vantel_xp
