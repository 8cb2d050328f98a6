#include "widgets/xpcmdbutton.h"

#include "widgets/EventArgs.h"
#include "widgets/PropertyBag.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <cmath>

namespace vantel_xp {
namespace {

constexpr int kRestCell = 0;
constexpr int kPressedCell = 1;
constexpr int kDisabledCell = 2;
constexpr int kHoverCell = 3;
constexpr int kEmphasisedCell = 4;
constexpr int kBand = 3;

const QColor kCaptionEnabled(0, 0, 0);
const QColor kCaptionDisabled(161, 161, 146);

QFont AmbientFontOf(const QWidget &widget)
{
    return widget.parentWidget() ? widget.parentWidget()->font() : QApplication::font();
}

} // namespace

xpcmdbutton::xpcmdbutton(QWidget *parent)
    : SkinnedButtonBase(parent, 1)
    , m_strip(SkinStrip::PushButtonResource(), 5)
    , m_font(font())
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_caption = new QLabel(QStringLiteral("xpcmdbutton"), this);
    m_caption->setObjectName(QStringLiteral("lbl"));
    m_caption->setAlignment(Qt::AlignCenter);
    // A caption is text as typed; "<" must not turn it into markup.
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setAutoFillBackground(false);
    m_caption->setMouseTracking(true);
    m_caption->installEventFilter(this);
    m_caption->adjustSize();
    ApplyCaptionColour();

    RefreshFace();
}

xpcmdbutton::~xpcmdbutton()
{
    RefreshFace();
}

bool xpcmdbutton::Enabled() const
{
    // The button's own setting; a disabled window around it does not grey the face.
    return !testAttribute(Qt::WA_ForceDisabled);
}

void xpcmdbutton::SetEnabled(bool enabled)
{
    setEnabled(enabled);
    Q_EMIT PropertyChanged(QStringLiteral("Enabled"));
    // Also when unchanged: setting it repaints the resting or disabled face at once.
    RefreshFace();
    ApplyCaptionColour();
}

void xpcmdbutton::SetState(int state)
{
    m_state = state;
    Q_EMIT PropertyChanged(QStringLiteral("State"));
    RefreshFace();
}

QString xpcmdbutton::Caption() const
{
    return m_caption->text();
}

void xpcmdbutton::SetCaption(const QString &caption)
{
    const bool changed = caption != m_caption->text();
    m_caption->setText(caption);
    Q_EMIT PropertyChanged(QStringLiteral("Caption"));
    // The label re-lays the button out only when its text really changed.
    if (changed)
        LayOut();
}

void xpcmdbutton::SetFont(const QFont &font)
{
    m_font = font;
    setFont(m_font);
    m_caption->setFont(m_font);
    LayOut();
    Q_EMIT PropertyChanged(QStringLiteral("Font"));
}

void xpcmdbutton::InitProperties(const QString &displayName, const QFont &ambientFont)
{
    SetEnabled(true);
    SetCaption(displayName);
    SetFont(ambientFont);
}

void xpcmdbutton::ReadProperties(const PropertyBag &bag, const QString &displayName, const QFont &ambientFont)
{
    // State is taken as stored; the Enabled setter that follows paints the face it selects.
    m_state = bag.ReadProperty(QStringLiteral("State"), 0).toInt();
    SetEnabled(bag.ReadProperty(QStringLiteral("Enabled"), true).toBool());
    SetCaption(bag.ReadProperty(QStringLiteral("Caption"), displayName).toString());
    SetFont(bag.ReadProperty(QStringLiteral("Font"), ambientFont).value<QFont>());
}

void xpcmdbutton::ReadProperties(const PropertyBag &bag)
{
    ReadProperties(bag, objectName(), AmbientFontOf(*this));
}

void xpcmdbutton::WriteProperties(PropertyBag &bag, const QString &displayName, const QFont &ambientFont) const
{
    bag.WriteProperty(QStringLiteral("State"), m_state, 0);
    bag.WriteProperty(QStringLiteral("Enabled"), Enabled(), true);
    bag.WriteProperty(QStringLiteral("Caption"), Caption(), displayName);
    bag.WriteProperty(QStringLiteral("Font"), m_font, ambientFont);
}

void xpcmdbutton::WriteProperties(PropertyBag &bag) const
{
    WriteProperties(bag, objectName(), AmbientFontOf(*this));
}

QSize xpcmdbutton::sizeHint() const
{
    const QSize text = m_caption->sizeHint();
    return {qMax(18, text.width() + 4 * kBand), qMax(21, text.height() + 2 * kBand)};
}

void xpcmdbutton::PaintFace(int cell)
{
    const int w = width();
    const int h = height();
    if (m_face.size() != size())
        m_face = QImage(size(), QImage::Format_RGB32);
    m_face.fill(Qt::white);
    const QImage source = m_strip.Cell(cell);
    const int e = kBand;
    const int sw = m_strip.CellSize().width();
    const int sh = m_strip.CellSize().height();
    const int cw = sw - 2 * e;
    const int ch = sh - 2 * e;
    struct Piece
    {
        QRect target;
        QRect from;
    };
    // Corners stay unscaled; edges stretch along their length, the centre both ways.
    const Piece pieces[] = {
        {{0, 0, e, e}, {0, 0, e, e}},
        {{w - e, 0, e, e}, {sw - e, 0, e, e}},
        {{w - e, h - e, e, e}, {sw - e, sh - e, e, e}},
        {{0, h - e, e, e}, {0, sh - e, e, e}},
        {{e, 0, w - 2 * e, e}, {e, 0, cw, e}},
        {{w - e, e, e, h - 2 * e}, {sw - e, e, e, ch}},
        {{0, e, e, h - 2 * e}, {0, e, e, ch}},
        {{e, h - e, w - 2 * e, e}, {e, sh - e, cw, e}},
        {{e, e, w - 2 * e, h - 2 * e}, {e, e, cw, ch}},
    };
    QPainter painter(&m_face);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const Piece &piece : pieces) {
        // Below six pixels the middle pieces have no room; they are left out.
        if (piece.target.width() > 0 && piece.target.height() > 0)
            painter.drawImage(piece.target, source, piece.from);
    }
    painter.end();
    update();
}

void xpcmdbutton::RefreshFace()
{
    if (m_state == 1)
        m_restCell = kEmphasisedCell;
    else if (m_state == 0)
        m_restCell = kRestCell;
    PaintFace(Enabled() ? m_restCell : kDisabledCell);
}

void xpcmdbutton::ApplyCaptionColour()
{
    QPalette palette = m_caption->palette();
    // Every colour group, so that Qt's own disabled colouring does not win.
    palette.setColor(QPalette::WindowText, Enabled() ? kCaptionEnabled : kCaptionDisabled);
    m_caption->setPalette(palette);
}

void xpcmdbutton::LayOut()
{
    RefreshFace();
    m_caption->adjustSize();
    m_captionPos = QPointF((width() - m_caption->width()) / 2.0, (height() - m_caption->height()) / 2.0);
    // A child sits on whole pixels; a half rounds down, so odd leftovers go right and below.
    m_caption->move(static_cast<int>(std::floor(m_captionPos.x())), static_cast<int>(std::floor(m_captionPos.y())));
}

void xpcmdbutton::PointerLeft()
{
    Q_EMIT MouseOut();
    RefreshFace();
}

void xpcmdbutton::ButtonDown(MouseArgs &a)
{
    Q_EMIT MouseDown(a.button, a.shift, a.x, a.y);
    PaintFace(kPressedCell);
}

void xpcmdbutton::ButtonUp(MouseArgs &a)
{
    Q_EMIT MouseUp(a.button, a.shift, a.x, a.y);
    // The resting face even with the pointer still over us; the next move brings hover back.
    RefreshFace();
}

void xpcmdbutton::Clicked()
{
    Q_EMIT Click();
}

void xpcmdbutton::PointerMoved(MouseArgs &a)
{
    Q_EMIT MouseMove(a.button, a.shift, a.x, a.y);
    PaintFace(a.button == 1 ? kPressedCell : kHoverCell);
}

bool xpcmdbutton::OverClickArea(const QMouseEvent &release) const
{
    return QRectF(rect()).contains(release.position());
}

void xpcmdbutton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_face);
}

void xpcmdbutton::resizeEvent(QResizeEvent *)
{
    LayOut();
}

void xpcmdbutton::showEvent(QShowEvent *)
{
    RefreshFace();
}

void xpcmdbutton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && Enabled() != m_lastEnabled) {
        m_lastEnabled = Enabled();
        RefreshFace();
        ApplyCaptionColour();
    }
    // A font given with plain setFont(), or inherited from the host, is the Font too.
    if (event->type() == QEvent::FontChange && font() != m_font) {
        m_font = font();
        m_caption->setFont(m_font);
        LayOut();
    }
    QWidget::changeEvent(event);
}

void xpcmdbutton::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    short shift = EventArgs::ShiftMask(event->modifiers());
    short code = EventArgs::KeyCode(event->key(), event->modifiers(), event->nativeVirtualKey());
    if (code != 0)
        Q_EMIT KeyDown(code, shift);
    // Space and Enter are plain keys here: they never click.
    for (const QChar ch : event->text()) {
        short ascii = EventArgs::KeyAscii(ch);
        if (ascii != 0)
            Q_EMIT KeyPress(ascii);
    }
}

void xpcmdbutton::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    // Auto-repeat repeats KeyDown and KeyPress only; KeyUp comes once, when the key is let go.
    if (event->isAutoRepeat())
        return;
    short shift = EventArgs::ShiftMask(event->modifiers());
    short code = EventArgs::KeyCode(event->key(), event->modifiers(), event->nativeVirtualKey());
    if (code != 0)
        Q_EMIT KeyUp(code, shift);
}

void xpcmdbutton::focusInEvent(QFocusEvent *)
{
    // No focus indicator and no face change.
}

void xpcmdbutton::focusOutEvent(QFocusEvent *)
{
}

bool xpcmdbutton::eventFilter(QObject *watched, QEvent *event)
{
    // A disabled button takes no input, through its caption neither.
    if (watched != m_caption || !isEnabled())
        return QWidget::eventFilter(watched, event);
    // The caption is part of the button: its mouse input is the button's own.
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *me = static_cast<QMouseEvent *>(event);
        // Over the caption the move is reported at the caption's corner, a point inside.
        Move({EventArgs::ButtonMask(me->buttons()), EventArgs::ShiftMask(me->modifiers()),
              static_cast<float>(m_captionPos.x()), static_cast<float>(m_captionPos.y())});
        return true;
    }
    case QEvent::MouseButtonPress:
        Press(*static_cast<QMouseEvent *>(event));
        return true;
    case QEvent::MouseButtonRelease: {
        const auto *me = static_cast<QMouseEvent *>(event);
        // The caption's own click: released over the caption.
        Release(*me, QRectF(m_caption->rect()).contains(me->position()));
        return true;
    }
    case QEvent::MouseButtonDblClick:
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

} // namespace vantel_xp
