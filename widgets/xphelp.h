#pragma once

#include "widgets/DoubleClickFilter.h"
#include "widgets/PointerSource.h"
#include "widgets/SkinStrip.h"

#include <QTimer>
#include <QWidget>

#include <memory>

namespace vantel_xp {

class PropertyBag;

// A 21 x 21 help button: a "?" with normal, hover and pressed cells. Its mouse events give
// X and Y in twips (15 per pixel). Arguments are passed by reference; connect directly.
class xphelp final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSide = 21;          // pixels
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kSideTwips = kSide * kTwipsPerPixel;

    explicit xphelp(QWidget *parent = nullptr);

    bool Enabled() const;
    void SetEnabled(bool enabled);

    // First placement: nothing to set, the fresh state is the default.
    void InitProperties() {}
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

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void ShowCell(int cell);
    void PollPointer();

    SkinStrip m_strip;
    QTimer m_hoverTimer;
    std::shared_ptr<const PointerSource> m_pointer;
    DoubleClickFilter m_doubleClick;
    int m_cell = 0;
    bool m_clickPending = false;
};

} // namespace vantel_xp
