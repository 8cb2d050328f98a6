#pragma once

#include "widgets/SkinStrip.h"
#include "widgets/SkinnedButtonBase.h"

#include <QFont>
#include <QImage>
#include <QPointF>

class QLabel;

namespace vantel_xp {

class PropertyBag;

// The skinned push button: a nine-slice face cut from a five-cell strip, a centred caption,
// and hover feedback kept up by polling the pointer, since nothing reports that it left.
// HoverTimer() is a 1 ms poll that runs only while the pointer is over the button.
//
// Every event passes its arguments by reference, so a handler may change them; the button
// looks at Button again after MouseMove has returned. That only works through direct
// connections (the default between objects of one thread): a queued connection cannot carry
// reference arguments and Qt refuses to queue them.
class xpcmdbutton final : public SkinnedButtonBase
{
    Q_OBJECT
    // For hosts that reach properties by name; distinct from QWidget's lower-case ones.
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int State READ State WRITE SetState)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QFont Font READ Font WRITE SetFont)
    Q_CLASSINFO("State", "Returns/sets the state of the command button when mouse_out.")

public:
    explicit xpcmdbutton(QWidget *parent = nullptr);
    ~xpcmdbutton() override;

    // The button's own enabled state; QWidget::setEnabled() ends in the same look.
    bool Enabled() const;
    void SetEnabled(bool enabled);
    // 0 rests on the ordinary face, 1 on the emphasised one; other values keep the last.
    int State() const { return m_state; }
    void SetState(int state);
    QString Caption() const;
    void SetCaption(const QString &caption);
    QFont Font() const { return m_font; }
    void SetFont(const QFont &font);

    // First placement on a host with nothing stored.
    void InitProperties(const QString &displayName, const QFont &ambientFont);
    // Loading from the host's store; the display name and ambient font are the defaults of
    // "Caption" and "Font". The short forms take objectName() and the parent's font.
    void ReadProperties(const PropertyBag &bag, const QString &displayName, const QFont &ambientFont);
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag, const QString &displayName, const QFont &ambientFont) const;
    void WriteProperties(PropertyBag &bag) const;

    // The caption's position as placed, in pixels; may hold halves.
    QPointF CaptionPosition() const { return m_captionPos; }

    QSize sizeHint() const override;

Q_SIGNALS:
    void Click();
    void KeyDown(short &KeyCode, short &Shift);
    void KeyPress(short &KeyAscii);
    void KeyUp(short &KeyCode, short &Shift);
    void MouseOut();
    void MouseDown(short &Button, short &Shift, float &X, float &Y);
    void MouseMove(short &Button, short &Shift, float &X, float &Y);
    void MouseUp(short &Button, short &Shift, float &X, float &Y);
    // A stored property changed, so the host's copy is out of date.
    void PropertyChanged(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void PaintFace(int cell);
    void RefreshFace();
    void ApplyCaptionColour();
    void LayOut();

    void PointerLeft() override;
    void ButtonDown(MouseArgs &args) override;
    void ButtonUp(MouseArgs &args) override;
    void Clicked() override;
    void PointerMoved(MouseArgs &args) override;
    float ToEventUnits(double pixels) const override { return static_cast<float>(pixels); }
    QSizeF EventArea() const override { return size(); }
    bool OverClickArea(const QMouseEvent &release) const override;

    SkinStrip m_strip;
    QLabel *m_caption = nullptr;
    QImage m_face;
    QFont m_font;
    QPointF m_captionPos;
    int m_state = 0;
    short m_restCell = 0;
    bool m_lastEnabled = true;
};

} // namespace vantel_xp
