#pragma once

#include "widgets/PointerSource.h"

#include <QTimer>

#include <functional>
#include <memory>

class QWidget;

namespace vantel_xp {

// How every skinned button notices that the pointer has left it: nothing reports that, so a
// timer asks the pointer source where the pointer is and stops once it is outside, edges
// counting as inside.
class HoverPoll final
{
public:
    HoverPoll(const QWidget &button, int intervalMs, std::function<void()> left);
    HoverPoll(const HoverPoll &) = delete;
    HoverPoll &operator=(const HoverPoll &) = delete;

    // Null restores the real cursor.
    void SetPointerSource(std::shared_ptr<const PointerSource> source);
    QTimer &Timer() { return m_timer; }
    // A running poll is left alone, so that a stream of moves cannot keep postponing its tick.
    void StartIfStopped();

private:
    void Poll();

    const QWidget &m_button;
    std::function<void()> m_left;
    std::shared_ptr<const PointerSource> m_pointer;
    QTimer m_timer;
};

} // namespace vantel_xp
