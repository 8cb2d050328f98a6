#include "widgets/xptopbuttons.h"

#include "widgets/CursorPointerSource.h"
#include "widgets/EventArgs.h"
#include "widgets/PropertyBag.h"

#include <QMouseEvent>
#include <QPainter>

namespace vantel_xp {
namespace {

constexpr int kNormal = 0;
constexpr int kHover = 1;
constexpr int kPressed = 2;
constexpr int kDisabled = 3;

} // namespace

xptopbuttons::xptopbuttons(QWidget *parent)
    : QWidget(parent)
    , m_strips{SkinStrip(SkinStrip::TitleBarResource(0), 4), SkinStrip(SkinStrip::TitleBarResource(1), 4),
               SkinStrip(SkinStrip::TitleBarResource(2), 4), SkinStrip(SkinStrip::TitleBarResource(3), 4)}
    , m_pointer(CursorPointerSource::Shared())
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_hoverTimer.setInterval(10);
    connect(&m_hoverTimer, &QTimer::timeout, this, &xptopbuttons::PollPointer);
    m_hoverTimer.start();

    ShowGlyph();
    ShowCell(kNormal);
    setFixedSize(kSide, kSide);
}

xptopbuttons::~xptopbuttons()
{
    ShowGlyph();
}

bool xptopbuttons::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void xptopbuttons::SetEnabled(bool enabled)
{
    // Unlike Value, not reported as changed to the host.
    setEnabled(enabled);
    ApplyEnabledLook();
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
    SetEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
}

void xptopbuttons::WriteProperties(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("Value"), m_value, 0);
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
}

void xptopbuttons::SetPointerSource(std::shared_ptr<const PointerSource> source)
{
    m_pointer = source ? std::move(source) : CursorPointerSource::Shared();
}

void xptopbuttons::ShowGlyph()
{
    if (m_value >= 0 && m_value <= 3)
        m_glyphIndex = static_cast<short>(m_value);
    ShowCell(Enabled() ? kNormal : kDisabled);
}

void xptopbuttons::ShowCell(int cell)
{
    m_cell = cell;
    update();
}

void xptopbuttons::ApplyEnabledLook()
{
    // The cell of the glyph set in use; Value is not looked at again.
    ShowCell(Enabled() ? kNormal : kDisabled);
}

void xptopbuttons::PollPointer()
{
    const QPoint p = m_pointer->ClientPosition(*this);
    if (p.x() < 0 || p.y() < 0 || p.x() > width() || p.y() > height()) {
        m_hoverTimer.stop();
        Q_EMIT MouseOut();
        if (Enabled())
            ShowCell(kNormal);
    }
}

void xptopbuttons::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_strips[static_cast<std::size_t>(m_glyphIndex)].Cell(m_cell));
}

void xptopbuttons::resizeEvent(QResizeEvent *)
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
    QWidget::changeEvent(event);
}

void xptopbuttons::mousePressEvent(QMouseEvent *event)
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
    auto x = static_cast<float>(event->position().x());
    auto y = static_cast<float>(event->position().y());
    Q_EMIT MouseDown(button, shift, x, y);
}

void xptopbuttons::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    ShowCell(kNormal);
    short button = EventArgs::ButtonMask(event->button());
    short shift = EventArgs::ShiftMask(event->modifiers());
    auto x = static_cast<float>(event->position().x());
    auto y = static_cast<float>(event->position().y());
    Q_EMIT MouseUp(button, shift, x, y);
    const bool click = m_clickPending && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_clickPending = false;
    if (click)
        Q_EMIT Click();
}

void xptopbuttons::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

void xptopbuttons::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_hoverTimer.isActive())
        m_hoverTimer.start();
    short button = EventArgs::ButtonMask(event->buttons());
    short shift = EventArgs::ShiftMask(event->modifiers());
    auto x = static_cast<float>(event->position().x());
    auto y = static_cast<float>(event->position().y());
    if (!EventArgs::Inside(x, y, width(), height()))
        return;
    Q_EMIT MouseMove(button, shift, x, y);
    ShowCell(button == 1 ? kPressed : kHover);
}

} // namespace vantel_xp
