// Puts the three buttons on one window in each of their looks, with the skin strips beside
// them at eight times their size. With --screenshot FILE it saves what the X server shows
// (the whole screen) after the window has settled, then quits.
#include "widgets/PointerSource.h"
#include "widgets/SkinStrip.h"
#include "widgets/xpcmdbutton.h"
#include "widgets/xphelp.h"
#include "widgets/xptopbuttons.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QFont::insertSubstitution(QStringLiteral("宋体"), QStringLiteral("AR PL UMing CN"));
    const auto pinned = std::make_shared<PinnedPointer>();

    QWidget window;
    window.setWindowTitle(QStringLiteral("vantel_xp"));
    window.resize(720, 420);
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
