#pragma once

#include "widgets/DoubleClickFilter.h"
#include "widgets/PointerSource.h"
#include "widgets/SkinStrip.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

namespace vantel_xp {

class PropertyBag;

// A 21 x 21 window-control button inside a window's client area: close, maximise, minimise
// or restore by Value, each with normal, hover, pressed and disabled cells shown unscaled.
// Its events pass arguments by reference; connect directly (see xpcmdbutton).
class xptopbuttons final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Value READ Value WRITE SetValue)

public:
    static constexpr int kSide = 21; // 315 twips

    explicit xptopbuttons(QWidget *parent = nullptr);
    ~xptopbuttons() override;

    bool Enabled() const;
    void SetEnabled(bool enabled);
    // 0 close, 1 maximise, 2 minimise, 3 restore; any other value keeps the glyph shown.
    int Value() const { return m_value; }
    void SetValue(int value);

    void InitProperties();
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

    void SetPointerSource(std::shared_ptr<const PointerSource> source);
    // The 10 ms poll; it runs from creation until the pointer is seen outside.
    QTimer &HoverTimer() { return m_hoverTimer; }

    QSize sizeHint() const override { return {kSide, kSide}; }

Q_SIGNALS:
    void Click();
    void MouseOut();
    void MouseDown(short &Button, short &Shift, float &X, float &Y);
    void MouseMove(short &Button, short &Shift, float &X, float &Y);
    void MouseUp(short &Button, short &Shift, float &X, float &Y);
    void PropertyChanged(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void ShowGlyph();
    void ShowCell(int cell);
    void ApplyEnabledLook();
    void PollPointer();

    std::array<SkinStrip, 4> m_strips;
    QTimer m_hoverTimer;
    std::shared_ptr<const PointerSource> m_pointer;
    DoubleClickFilter m_doubleClick;
    int m_value = 0;
    short m_glyphIndex = 0;
    int m_cell = 0;
    bool m_clickPending = false;
    bool m_lastEnabled = true;
};

} // namespace vantel_xp
