#include "widgets/SmallGlyphButton.h"

#include "widgets/CursorPointerSource.h"
#include "widgets/EventArgs.h"
#include "widgets/PropertyBag.h"
#include "widgets/SkinStrip.h"

#include <QMouseEvent>
#include <QPainter>

namespace vantel_xp {

SmallGlyphButton::SmallGlyphButton(QWidget *parent, Events events)
    : QWidget(parent)
    , m_events(std::move(events))
    , m_pointer(CursorPointerSource::Shared())
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_hoverTimer.setInterval(10);
    connect(&m_hoverTimer, &QTimer::timeout, this, &SmallGlyphButton::PollPointer);
    m_hoverTimer.start();

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
    m_pointer = source ? std::move(source) : CursorPointerSource::Shared();
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

void SmallGlyphButton::PollPointer()
{
    // Polled in pixels, whatever unit the events use.
    const QPoint p = m_pointer->ClientPosition(*this);
    if (p.x() < 0 || p.y() < 0 || p.x() > width() || p.y() > height()) {
        m_hoverTimer.stop();
        m_events.mouseOut();
        if (Enabled())
            ShowCell(kNormal);
    }
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

void SmallGlyphButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (m_doubleClick.IsSecondPress(*event)) {
        m_clickPending = false;
        return;
    }
    m_clickPending = event->button() == Qt::LeftButton;
    ShowCell(kPressed);
    short button = EventArgs::ButtonMask(event->button());
    short shift = EventArgs::ShiftMask(event->modifiers());
    float x = ToEventUnits(event->position().x());
    float y = ToEventUnits(event->position().y());
    m_events.mouseDown(button, shift, x, y);
}

void SmallGlyphButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (NormalOnRelease())
        ShowCell(kNormal);
    short button = EventArgs::ButtonMask(event->button());
    short shift = EventArgs::ShiftMask(event->modifiers());
    float x = ToEventUnits(event->position().x());
    float y = ToEventUnits(event->position().y());
    m_events.mouseUp(button, shift, x, y);
    const bool click = m_clickPending && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_clickPending = false;
    if (click) {
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
    if (!m_hoverTimer.isActive())
        m_hoverTimer.start();
    short button = EventArgs::ButtonMask(event->buttons());
    short shift = EventArgs::ShiftMask(event->modifiers());
    float x = ToEventUnits(event->position().x());
    float y = ToEventUnits(event->position().y());
    const QSizeF area = EventArea();
    if (!EventArgs::Inside(x, y, area.width(), area.height()))
        return;
    m_events.mouseMove(button, shift, x, y);
    ShowCell(button == 1 ? kPressed : kHover);
}

} // namespace vantel_xp
