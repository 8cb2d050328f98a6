#include "widgets/xphelp.h"

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

float Twips(double pixels)
{
    return static_cast<float>(pixels * xphelp::kTwipsPerPixel);
}

} // namespace

xphelp::xphelp(QWidget *parent)
    : QWidget(parent)
    , m_strip(SkinStrip::HelpResource(), 3)
    , m_pointer(CursorPointerSource::Shared())
{
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_hoverTimer.setInterval(10);
    connect(&m_hoverTimer, &QTimer::timeout, this, &xphelp::PollPointer);
    m_hoverTimer.start();

    ShowCell(kNormal);
    setFixedSize(kSide, kSide);
}

bool xphelp::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void xphelp::SetEnabled(bool enabled)
{
    // No disabled cell: the button keeps whatever it showed last.
    setEnabled(enabled);
}

void xphelp::ReadProperties(const PropertyBag &bag)
{
    SetEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
}

void xphelp::WriteProperties(PropertyBag &bag) const
{
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
}

void xphelp::SetPointerSource(std::shared_ptr<const PointerSource> source)
{
    m_pointer = source ? std::move(source) : CursorPointerSource::Shared();
}

void xphelp::ShowCell(int cell)
{
    m_cell = cell;
    update();
}

void xphelp::PollPointer()
{
    // Polled in pixels, unlike the twips of the events.
    const QPoint p = m_pointer->ClientPosition(*this);
    if (p.x() < 0 || p.y() < 0 || p.x() > width() || p.y() > height()) {
        m_hoverTimer.stop();
        Q_EMIT MouseOut();
        if (Enabled())
            ShowCell(kNormal);
    }
}

void xphelp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_strip.Cell(m_cell));
}

void xphelp::resizeEvent(QResizeEvent *)
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

void xphelp::mousePressEvent(QMouseEvent *event)
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
    float x = Twips(event->position().x());
    float y = Twips(event->position().y());
    Q_EMIT MouseDown(button, shift, x, y);
}

void xphelp::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    // The pressed cell stays through MouseUp; only a click puts the normal one back.
    short button = EventArgs::ButtonMask(event->button());
    short shift = EventArgs::ShiftMask(event->modifiers());
    float x = Twips(event->position().x());
    float y = Twips(event->position().y());
    Q_EMIT MouseUp(button, shift, x, y);
    const bool click = m_clickPending && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_clickPending = false;
    if (click) {
        ShowCell(kNormal);
        Q_EMIT Click();
    }
}

void xphelp::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}

void xphelp::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (!m_hoverTimer.isActive())
        m_hoverTimer.start();
    short button = EventArgs::ButtonMask(event->buttons());
    short shift = EventArgs::ShiftMask(event->modifiers());
    float x = Twips(event->position().x());
    float y = Twips(event->position().y());
    if (!EventArgs::Inside(x, y, kSideTwips, kSideTwips))
        return;
    Q_EMIT MouseMove(button, shift, x, y);
    ShowCell(button == 1 ? kPressed : kHover);
}

} // namespace vantel_xp
