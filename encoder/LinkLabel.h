#pragma once

#include <QLabel>

namespace corva {

// A label that reports clicks and pointer moves, for the window's text links.
class LinkLabel final : public QLabel
{
    Q_OBJECT
public:
    explicit LinkLabel(const QString &text, QWidget *parent = nullptr);

    // Blue and plain, or red and underlined while the pointer is over it.
    void SetHoverLook(bool hover);
    bool HoverLook() const { return m_hover; }

Q_SIGNALS:
    void Click();
    void MouseMove();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    bool m_hover = false;
};

} // namespace corva
