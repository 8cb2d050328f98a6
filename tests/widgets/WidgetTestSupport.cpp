#include "WidgetTestSupport.h"

#include <QCoreApplication>
#include <QFont>

namespace vantel_xp::test {

quint64 Mouse::s_clock = 100000;

void Mouse::Send(QWidget *w, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons,
                 Qt::KeyboardModifiers mods, quint64 time)
{
    QMouseEvent event(type, at, w->mapToGlobal(at), button, buttons, mods);
    event.setTimestamp(time);
    QCoreApplication::sendEvent(w, &event);
}

void Mouse::Move(QWidget *w, QPointF at, Qt::MouseButtons held, Qt::KeyboardModifiers mods)
{
    s_clock += 10;
    Send(w, QEvent::MouseMove, at, Qt::NoButton, held, mods, s_clock);
}

void Mouse::Press(QWidget *w, QPointF at, Qt::MouseButton button, Qt::MouseButtons heldAfter,
                  Qt::KeyboardModifiers mods)
{
    s_clock += 1000;
    Send(w, QEvent::MouseButtonPress, at, button, heldAfter ? heldAfter : Qt::MouseButtons(button), mods, s_clock);
}

void Mouse::Release(QWidget *w, QPointF at, Qt::MouseButton button, Qt::MouseButtons heldAfter,
                    Qt::KeyboardModifiers mods)
{
    s_clock += 10;
    Send(w, QEvent::MouseButtonRelease, at, button, heldAfter, mods, s_clock);
}

void Mouse::Click(QWidget *w, QPointF at, Qt::MouseButton button)
{
    Press(w, at, button);
    Release(w, at, button);
}

void Mouse::DoubleClick(QWidget *w, QPointF at, const std::function<void()> &betweenSecondPressAndRelease)
{
    s_clock += 1000;
    Send(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier, s_clock);
    Send(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier, s_clock + 40);
    Send(w, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier, s_clock + 120);
    Send(w, QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier, s_clock + 120);
    if (betweenSecondPressAndRelease)
        betweenSecondPressAndRelease();
    Send(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier, s_clock + 160);
    s_clock += 200;
}

QImage Grab(QWidget &w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

namespace {

// Candidate source coordinates for target coordinate t on an axis of length n whose source
// is `len` long with bands of `band` at both ends.
QList<int> SourceCandidates(int t, int n, int len, int band)
{
    if (t < band)
        return {t};
    if (t >= n - band)
        return {len - band + (t - (n - band))};
    const int mid = len - 2 * band;
    const int span = n - 2 * band;
    const int exact = band + static_cast<int>((t - band + 0.5) * mid / span);
    QList<int> out;
    for (int s = exact - 1; s <= exact + 1; ++s) {
        if (s >= band && s < len - band)
            out << s;
    }
    return out;
}

} // namespace

::testing::AssertionResult FaceShowsCell(const QImage &face, const QImage &cell, const QRect &skip)
{
    constexpr int band = 3;
    if (face.width() < 2 * band || face.height() < 2 * band)
        return ::testing::AssertionFailure() << "face too small: " << face.width() << "x" << face.height();
    for (int y = 0; y < face.height(); ++y) {
        const QList<int> ys = SourceCandidates(y, face.height(), cell.height(), band);
        for (int x = 0; x < face.width(); ++x) {
            if (skip.contains(x, y))
                continue;
            const QList<int> xs = SourceCandidates(x, face.width(), cell.width(), band);
            const QRgb actual = face.pixel(x, y) & 0xFFFFFF;
            bool found = false;
            for (int sy : ys) {
                for (int sx : xs)
                    found = found || (cell.pixel(sx, sy) & 0xFFFFFF) == actual;
            }
            if (!found) {
                return ::testing::AssertionFailure()
                    << "face pixel (" << x << "," << y << ") is #" << std::hex << actual << std::dec
                    << ", expected cell pixel (" << xs.value(0) << "," << ys.value(0) << ") #" << std::hex
                    << (cell.pixel(xs.value(0), ys.value(0)) & 0xFFFFFF);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SameImage(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size()) {
        return ::testing::AssertionFailure() << "size " << actual.width() << "x" << actual.height()
                                             << ", expected " << expected.width() << "x" << expected.height();
    }
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            if ((actual.pixel(x, y) & 0xFFFFFF) != (expected.pixel(x, y) & 0xFFFFFF)) {
                return ::testing::AssertionFailure()
                    << "pixel (" << x << "," << y << ") is #" << std::hex << (actual.pixel(x, y) & 0xFFFFFF)
                    << ", expected #" << (expected.pixel(x, y) & 0xFFFFFF);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void InstallFontSubstitutions()
{
    QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"));
}

} // namespace vantel_xp::test
