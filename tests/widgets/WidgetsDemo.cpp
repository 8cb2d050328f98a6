// Puts the three buttons on one window in each of their looks, with the skin strips beside
// them at four times their size. With --screenshot FILE it saves what the X server shows
// (the whole screen) after the window has settled, then quits. With --drive it moves and
// clicks the X server's own pointer (XTest) over fresh buttons and reports what they did:
// the path a real mouse takes, through the platform plugin, with the real cursor polled.
// With --grab-screen FILE it shows nothing and saves the screen as it is; --move-pointer X Y
// only moves the X pointer.
#include "widgets/PointerSource.h"
#include "widgets/SkinStrip.h"
#include "widgets/xpcmdbutton.h"
#include "widgets/xphelp.h"
#include "widgets/xptopbuttons.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <dlfcn.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

// Holds a button in its hover or pressed look for the picture: the poll sees the pointer on it.
class PinnedPointer final : public vantel_xp::PointerSource
{
public:
    QPoint ClientPosition(const QWidget &) const override { return {1, 1}; }
};

void Send(QWidget *w, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &event);
}

vantel_xp::xpcmdbutton *PushButton(QWidget *parent, const QString &caption, QRect twips)
{
    auto *b = new vantel_xp::xpcmdbutton(parent);
    b->SetCaption(caption);
    b->SetFont(QFont(QStringLiteral("宋体"), 9));
    b->setGeometry(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    return b;
}

QLabel *Magnified(QWidget *parent, const QString &resource, QPoint at)
{
    auto *label = new QLabel(parent);
    const QImage strip(resource);
    label->setPixmap(QPixmap::fromImage(strip.scaled(strip.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    label->move(at);
    label->adjustSize();
    return label;
}

void Wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The X server's pointer, driven through XTest, loaded at run time so that nothing here
// needs the X development headers.
class XPointer final
{
public:
    XPointer()
    {
        void *x11 = dlopen("libX11.so.6", RTLD_NOW);
        void *xtst = dlopen("libXtst.so.6", RTLD_NOW);
        if (!x11 || !xtst)
            return;
        auto open = reinterpret_cast<void *(*)(const char *)>(dlsym(x11, "XOpenDisplay"));
        m_flush = reinterpret_cast<int (*)(void *)>(dlsym(x11, "XFlush"));
        m_motion = reinterpret_cast<int (*)(void *, int, int, int, unsigned long)>(dlsym(xtst, "XTestFakeMotionEvent"));
        m_button = reinterpret_cast<int (*)(void *, unsigned, int, unsigned long)>(dlsym(xtst, "XTestFakeButtonEvent"));
        if (open && m_flush && m_motion && m_button)
            m_display = open(nullptr);
    }
    bool Ok() const { return m_display != nullptr; }
    void MoveTo(QPoint global)
    {
        m_motion(m_display, -1, global.x(), global.y(), 0);
        m_flush(m_display);
        Wait(60);
    }
    void Button(unsigned button, bool down)
    {
        m_button(m_display, button, down ? 1 : 0, 0);
        m_flush(m_display);
        Wait(60);
    }

private:
    void *m_display = nullptr;
    int (*m_flush)(void *) = nullptr;
    int (*m_motion)(void *, int, int, int, unsigned long) = nullptr;
    int (*m_button)(void *, unsigned, int, unsigned long) = nullptr;
};

struct Counts
{
    int moves = 0, downs = 0, ups = 0, outs = 0, clicks = 0;
};

template <typename W>
void Count(W *w, Counts &c)
{
    QObject::connect(w, &W::MouseMove, w, [&c](short &, short &, float &, float &) { ++c.moves; });
    QObject::connect(w, &W::MouseDown, w, [&c](short &, short &, float &, float &) { ++c.downs; });
    QObject::connect(w, &W::MouseUp, w, [&c](short &, short &, float &, float &) { ++c.ups; });
    QObject::connect(w, &W::MouseOut, w, [&c] { ++c.outs; });
    QObject::connect(w, &W::Click, w, [&c] { ++c.clicks; });
}

// Row 1, middle column of a push button's face tells its cell apart.
QRgb TopMiddle(QWidget *w)
{
    return w->grab().toImage().pixel(w->width() / 2, 1) & 0xFFFFFF;
}

QRgb SmallCellPixel(QWidget *w)
{
    return w->grab().toImage().pixel(3, 10) & 0xFFFFFF;
}

int Drive()
{
    XPointer pointer;
    if (!pointer.Ok()) {
        std::fprintf(stderr, "no X display with XTest\n");
        return 2;
    }
    QWidget window;
    window.resize(300, 120);
    auto *push = PushButton(&window, QStringLiteral("浏览"), {600, 600, 735, 255});
    auto *top = new vantel_xp::xptopbuttons(&window);
    top->SetValue(2);
    top->move(200, 20);
    auto *help = new vantel_xp::xphelp(&window);
    help->move(200, 60);
    Counts p, t, h;
    Count(push, p);
    Count(top, t);
    Count(help, h);
    window.show();
    Wait(300);

    const vantel_xp::SkinStrip pushStrip(vantel_xp::SkinStrip::PushButtonResource(), 5);
    auto pushCell = [&](int cell) { return pushStrip.Cell(cell).pixel(9, 1) & 0xFFFFFF; };
    const vantel_xp::SkinStrip topStrip(vantel_xp::SkinStrip::TitleBarResource(2), 4);
    const vantel_xp::SkinStrip helpStrip(vantel_xp::SkinStrip::HelpResource(), 3);
    int failures = 0;
    auto check = [&](bool ok, const char *what) {
        std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
        failures += ok ? 0 : 1;
    };
    const QPoint away = window.mapToGlobal(QPoint(10, 100));
    pointer.MoveTo(away);

    pointer.MoveTo(push->mapToGlobal(QPoint(10, 8)));
    check(p.moves > 0 && TopMiddle(push) == pushCell(3), "push button: pointer over it shows the hover face");
    pointer.Button(1, true);
    check(p.downs == 1 && TopMiddle(push) == pushCell(1), "push button: press shows the pressed face");
    pointer.Button(1, false);
    check(p.ups == 1 && p.clicks == 1 && TopMiddle(push) == pushCell(0), "push button: release clicks and rests");
    pointer.MoveTo(push->mapToGlobal(QPoint(12, 8)));
    pointer.Button(1, true);
    pointer.MoveTo(away);
    check(p.outs >= 1 && TopMiddle(push) == pushCell(0), "push button: dragged out while held, MouseOut and rest");
    pointer.Button(1, false);
    check(p.clicks == 1, "push button: released outside, no click");
    const int outsBefore = p.outs;
    pointer.MoveTo(push->mapToGlobal(QPoint(20, 4)));
    pointer.MoveTo(away);
    check(p.outs == outsBefore + 1 && TopMiddle(push) == pushCell(0), "push button: left, MouseOut and rest");

    pointer.MoveTo(push->mapToGlobal(QPoint(20, 8)));
    const Counts before = p;
    for (int i = 0; i < 2; ++i) {
        pointer.Button(1, true);
        pointer.Button(1, false);
    }
    check(p.clicks == before.clicks + 1 && p.downs == before.downs + 1 && p.ups == before.ups + 2,
          "push button: a double click is one click, one MouseDown, two MouseUp");
    pointer.MoveTo(away);

    pointer.MoveTo(top->mapToGlobal(QPoint(10, 10)));
    check(t.moves > 0 && SmallCellPixel(top) == (topStrip.Cell(1).pixel(3, 10) & 0xFFFFFF), "title-bar button: hover cell");
    pointer.Button(1, true);
    pointer.Button(1, false);
    check(t.clicks == 1, "title-bar button: click");
    pointer.MoveTo(away);
    check(t.outs >= 1 && SmallCellPixel(top) == (topStrip.Cell(0).pixel(3, 10) & 0xFFFFFF), "title-bar button: left, normal cell");

    pointer.MoveTo(help->mapToGlobal(QPoint(10, 10)));
    check(h.moves > 0 && SmallCellPixel(help) == (helpStrip.Cell(1).pixel(3, 10) & 0xFFFFFF), "help button: hover cell");
    pointer.Button(1, true);
    check(SmallCellPixel(help) == (helpStrip.Cell(2).pixel(3, 10) & 0xFFFFFF), "help button: pressed cell");
    pointer.Button(1, false);
    check(h.clicks == 1 && SmallCellPixel(help) == (helpStrip.Cell(0).pixel(3, 10) & 0xFFFFFF), "help button: click, normal cell");
    pointer.MoveTo(away);
    check(h.outs >= 1, "help button: left, MouseOut");
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"));
    if (QCoreApplication::arguments().contains(QStringLiteral("--drive")))
        return Drive();
    // --move-pointer X Y: put the X server's pointer there (screen pixels), for pictures of
    // another program's hover look.
    const qsizetype move = QCoreApplication::arguments().indexOf(QStringLiteral("--move-pointer"));
    if (move >= 0 && move + 2 < QCoreApplication::arguments().size()) {
        XPointer pointer;
        if (!pointer.Ok())
            return 2;
        pointer.MoveTo({QCoreApplication::arguments().at(move + 1).toInt(), QCoreApplication::arguments().at(move + 2).toInt()});
        return 0;
    }
    // --grab-screen FILE: only save what the X server shows now, e.g. another program's window.
    const qsizetype grab = QCoreApplication::arguments().indexOf(QStringLiteral("--grab-screen"));
    if (grab >= 0 && grab + 1 < QCoreApplication::arguments().size())
        return QGuiApplication::primaryScreen()->grabWindow(0).save(QCoreApplication::arguments().at(grab + 1)) ? 0 : 1;
    const auto pinned = std::make_shared<PinnedPointer>();

    QWidget window;
    window.setWindowTitle(QStringLiteral("vantel_xp"));
    window.resize(720, 470);
    window.setStyleSheet(QStringLiteral("QWidget#window { background: #ECE9D8; }"));
    window.setObjectName(QStringLiteral("window"));
    window.setAutoFillBackground(true);

    // Row 1: the window's own sizes, twips as in its design.
    PushButton(&window, QStringLiteral("浏览"), {120, 120, 735, 255});
    PushButton(&window, QStringLiteral("高级选项 ↓"), {1000, 120, 1695, 255});
    auto *start = PushButton(&window, QStringLiteral("开始压缩"), {2900, 120, 1455, 495});
    auto *end = PushButton(&window, QStringLiteral("结  束"), {4500, 120, 1455, 495});
    end->SetEnabled(false);
    auto *emphasised = PushButton(&window, QStringLiteral("State 1"), {6100, 120, 1455, 495});
    emphasised->SetState(1);

    // Row 2: hover and pressed, held in place.
    auto *hover = PushButton(&window, QStringLiteral("悬停 hover"), {120, 900, 1455, 495});
    hover->SetPointerSource(pinned);
    auto *pressed = PushButton(&window, QStringLiteral("按下 pressed"), {1700, 900, 1455, 495});
    pressed->SetPointerSource(pinned);
    auto *dvd = PushButton(&window, QStringLiteral("我要压缩DVD影碟"), {3300, 900, 2055, 255});
    Q_UNUSED(start);
    Q_UNUSED(dvd);

    // Row 3: the title-bar glyphs, normal, and their hover / pressed / disabled looks.
    for (int value = 0; value < 4; ++value) {
        for (int look = 0; look < 4; ++look) {
            auto *t = new vantel_xp::xptopbuttons(&window);
            t->SetValue(value);
            t->move(8 + look * 26 + value * 112, 130);
            if (look == 1 || look == 2)
                t->SetPointerSource(pinned);
            if (look == 3)
                t->SetEnabled(false);
            if (look == 1)
                QTimer::singleShot(0, t, [t] { Send(t, QEvent::MouseMove, Qt::NoButton, Qt::NoButton); });
            if (look == 2)
                QTimer::singleShot(0, t, [t] { Send(t, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton); });
        }
    }
    for (int look = 0; look < 3; ++look) {
        auto *h = new vantel_xp::xphelp(&window);
        h->move(460 + look * 26, 130);
        if (look > 0) {
            h->SetPointerSource(pinned);
            const bool press = look == 2;
            QTimer::singleShot(0, h, [h, press] {
                Send(h, press ? QEvent::MouseButtonPress : QEvent::MouseMove, press ? Qt::LeftButton : Qt::NoButton,
                     press ? Qt::LeftButton : Qt::NoButton);
            });
        }
    }

    // Row 4: the strips themselves, four times their size.
    Magnified(&window, vantel_xp::SkinStrip::PushButtonResource(), {8, 170});
    Magnified(&window, vantel_xp::SkinStrip::HelpResource(), {380, 170});
    for (int set = 0; set < 4; ++set)
        Magnified(&window, vantel_xp::SkinStrip::TitleBarResource(set), {8 + (set % 2) * 350, 270 + (set / 2) * 90});

    window.show();
    QTimer::singleShot(0, hover, [hover] { Send(hover, QEvent::MouseMove, Qt::NoButton, Qt::NoButton); });
    QTimer::singleShot(0, pressed, [pressed] { Send(pressed, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton); });

    const QStringList args = QCoreApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--screenshot"));
    if (at >= 0 && at + 1 < args.size()) {
        const QString file = args.at(at + 1);
        QTimer::singleShot(1500, &app, [file] {
            const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(file);
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
