#pragma once

#include "widgets/PointerSource.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>

namespace vantel_xp::test {

// QSignalSpy cannot record reference arguments; this records the values each emission had
// on arrival, through an ordinary direct connection.
template <typename... Args>
class RefSpy final
{
public:
    template <typename W>
    RefSpy(W *sender, void (W::*signal)(Args &...))
        : m_connection(QObject::connect(sender, signal, [this](Args &...args) { m_calls.emplace_back(args...); }))
    {
    }
    ~RefSpy() { QObject::disconnect(m_connection); }
    RefSpy(const RefSpy &) = delete;
    RefSpy &operator=(const RefSpy &) = delete;

    int count() const { return static_cast<int>(m_calls.size()); }
    const std::tuple<Args...> &at(int i) const { return m_calls.at(static_cast<std::size_t>(i)); }

private:
    std::vector<std::tuple<Args...>> m_calls;
    QMetaObject::Connection m_connection;
};
using MouseSpy = RefSpy<short, short, float, float>;
using KeySpy = RefSpy<short, short>;
using AsciiSpy = RefSpy<short>;

// A pointer that is wherever the test puts it, in the widget's client pixels.
class FakePointer final : public PointerSource
{
public:
    explicit FakePointer(QPoint at = {-100, -100}) : m_at(at) {}
    QPoint ClientPosition(const QWidget &) const override { return m_at; }
    void MoveTo(QPoint at) { m_at = at; }

private:
    QPoint m_at;
};

// Sends mouse input straight to a widget, as Qt delivers it after picking the receiver
// (a press's later moves and its release go to the pressed widget, wherever they are).
// Each press is stamped a second after the previous one, so no two look like a double click
// unless DoubleClick() is used.
class Mouse final
{
public:
    static void Move(QWidget *w, QPointF at, Qt::MouseButtons held = Qt::NoButton,
                     Qt::KeyboardModifiers mods = Qt::NoModifier);
    static void Press(QWidget *w, QPointF at, Qt::MouseButton button, Qt::MouseButtons heldAfter = {},
                      Qt::KeyboardModifiers mods = Qt::NoModifier);
    static void Release(QWidget *w, QPointF at, Qt::MouseButton button, Qt::MouseButtons heldAfter = {},
                        Qt::KeyboardModifiers mods = Qt::NoModifier);
    static void Click(QWidget *w, QPointF at, Qt::MouseButton button = Qt::LeftButton);
    // Press, release, press + double-click event, release: what Qt sends for a double click.
    // `betweenSecondPressAndRelease` runs before the final release.
    static void DoubleClick(QWidget *w, QPointF at, const std::function<void()> &betweenSecondPressAndRelease = {});

private:
    static void Send(QWidget *w, QEvent::Type type, QPointF at, Qt::MouseButton button,
                     Qt::MouseButtons buttons, Qt::KeyboardModifiers mods, quint64 time);
    static quint64 s_clock;
};

// The widget as drawn on screen.
QImage Grab(QWidget &w);

// Compares a face of any size with the nine-slice stretch of an 18 x 21 cell with 3-pixel
// bands. Stretched pixels may come from either source pixel next to the exact mapping, as
// nearest-neighbour scaling rounds; corners must match exactly. `skip` is left out (the
// caption drawn over the face).
::testing::AssertionResult FaceShowsCell(const QImage &face, const QImage &cell, const QRect &skip = {});

// Exact comparison of a whole image.
::testing::AssertionResult SameImage(const QImage &actual, const QImage &expected);

// Makes the fonts of the window design resolvable here.
void InstallFontSubstitutions();

} // namespace vantel_xp::test
