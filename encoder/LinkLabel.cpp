#include "encoder/LinkLabel.h"

#include <QMouseEvent>

namespace corva {

LinkLabel::LinkLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    SetHoverLook(false);
}

void LinkLabel::SetHoverLook(bool hover)
{
    m_hover = hover;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, hover ? QColor(255, 0, 0) : QColor(0, 0, 255));
    setPalette(p);
    QFont f = font();
    f.setUnderline(hover);
    setFont(f);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT Click();
    QLabel::mouseReleaseEvent(event);
}

void LinkLabel::mouseMoveEvent(QMouseEvent *event)
{
    Q_EMIT MouseMove();
    QLabel::mouseMoveEvent(event);
}

} // namespace corva
