#include "widgets/xptopbuttons.h"

#include "widgets/PropertyBag.h"

#include <QEvent>

namespace vantel_xp {
namespace {

constexpr int kDisabled = 3;

} // namespace

xptopbuttons::xptopbuttons(QWidget *parent)
    : SmallGlyphButton(parent, SignalsOf(this))
    , m_strips{SkinStrip(SkinStrip::TitleBarResource(0), 4), SkinStrip(SkinStrip::TitleBarResource(1), 4),
               SkinStrip(SkinStrip::TitleBarResource(2), 4), SkinStrip(SkinStrip::TitleBarResource(3), 4)}
{
    ShowGlyph();
}

xptopbuttons::~xptopbuttons()
{
    ShowGlyph();
}

void xptopbuttons::SetValue(int value)
{
    m_value = value;
    Q_EMIT PropertyChanged(QStringLiteral("Value"));
    ShowGlyph();
}

void xptopbuttons::InitProperties()
{
    SetValue(0);
    SetEnabled(true);
}

void xptopbuttons::ReadProperties(const PropertyBag &bag)
{
    // Value is only stored here; the glyph set follows when the button is shown.
    m_value = bag.ReadProperty(QStringLiteral("Value"), 0).toInt();
    ReadEnabled(bag);
}

void xptopbuttons::WriteProperties(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("Value"), m_value, 0);
    WriteEnabled(bag);
}

void xptopbuttons::ShowGlyph()
{
    if (m_value >= 0 && m_value <= 3)
        m_glyphIndex = static_cast<short>(m_value);
    ShowCell(Enabled() ? kNormal : kDisabled);
}

void xptopbuttons::ApplyEnabledLook()
{
    // The cell of the glyph set in use; Value is not looked at again.
    ShowCell(Enabled() ? kNormal : kDisabled);
}

void xptopbuttons::showEvent(QShowEvent *)
{
    ShowGlyph();
}

void xptopbuttons::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && Enabled() != m_lastEnabled) {
        m_lastEnabled = Enabled();
        ApplyEnabledLook();
    }
    SmallGlyphButton::changeEvent(event);
}

} // namespace vantel_xp
