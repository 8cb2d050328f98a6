#include "widgets/SmallGlyphButton.h"

#include "widgets/PropertyBag.h"
#include "widgets/SkinStrip.h"

#include <QMouseEvent>
#include <QPainter>

namespace vantel_xp {

SmallGlyphButton::SmallGlyphButton(QWidget *parent, Events events)
    : SkinnedButtonBase(parent, 10)
    , m_events(std::move(events))
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    HoverTimer().start();

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

void SmallGlyphButton::PointerLeft()
{
    m_events.mouseOut();
    if (Enabled())
        ShowCell(kNormal);
}

void SmallGlyphButton::ButtonDown(MouseArgs &a)
{
    ShowCell(kPressed);
    m_events.mouseDown(a.button, a.shift, a.x, a.y);
}

void SmallGlyphButton::ButtonUp(MouseArgs &a)
{
    if (NormalOnRelease())
        ShowCell(kNormal);
    m_events.mouseUp(a.button, a.shift, a.x, a.y);
}

void SmallGlyphButton::Clicked()
{
    if (NormalOnClick())
        ShowCell(kNormal);
    m_events.click();
}

void SmallGlyphButton::PointerMoved(MouseArgs &a)
{
    m_events.mouseMove(a.button, a.shift, a.x, a.y);
    // The handler may have changed Button.
    ShowCell(a.button == 1 ? kPressed : kHover);
}

bool SmallGlyphButton::OverClickArea(const QMouseEvent &release) const
{
    // The whole pixel the release rounds to, so the far edge is already outside.
    return rect().contains(release.position().toPoint());
}

} // namespace vantel_xp
