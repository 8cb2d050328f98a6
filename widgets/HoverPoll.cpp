#include "widgets/HoverPoll.h"

#include "widgets/CursorPointerSource.h"

#include <QWidget>

namespace vantel_xp {

HoverPoll::HoverPoll(const QWidget &button, int intervalMs, std::function<void()> left)
    : m_button(button), m_left(std::move(left)), m_pointer(CursorPointerSource::Shared())
{
    m_timer.setInterval(intervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { Poll(); });
}

void HoverPoll::SetPointerSource(std::shared_ptr<const PointerSource> source)
{
    m_pointer = source ? std::move(source) : CursorPointerSource::Shared();
}

void HoverPoll::StartIfStopped()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void HoverPoll::Poll()
{
    // Polled in pixels, whatever unit the button's events use.
    const QPoint p = m_pointer->ClientPosition(m_button);
    if (p.x() < 0 || p.y() < 0 || p.x() > m_button.width() || p.y() > m_button.height()) {
        m_timer.stop();
        m_left();
    }
}

} // namespace vantel_xp
