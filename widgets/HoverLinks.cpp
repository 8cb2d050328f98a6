#include "widgets/HoverLinks.h"

#include <QLabel>
#include <QMouseEvent>

#include <utility>

namespace corva {

HoverLinks::HoverLinks(QColor normal, QColor hover, QObject *parent)
    : QObject(parent), m_normal(std::move(normal)), m_hover(std::move(hover))
{
}

void HoverLinks::AddLink(QLabel *link)
{
    m_links << link;
    link->setMouseTracking(true);
    link->installEventFilter(this);
    setLook(link, false);
}

void HoverLinks::AddResetArea(QWidget *area)
{
    m_areas << area;
    area->setMouseTracking(true);
    area->installEventFilter(this);
}

bool HoverLinks::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::MouseMove)
        return false;
    for (QLabel *link : std::as_const(m_links)) {
        if (watched == link) {
            setLook(link, true);
            return false;
        }
    }
    for (QWidget *area : std::as_const(m_areas)) {
        // A move over a child of the area reaches the area too, passed up by the child.
        // Only the area's own background counts.
        if (watched == area
            && !area->childAt(static_cast<QMouseEvent *>(event)->position().toPoint())) {
            for (QLabel *link : std::as_const(m_links))
                setLook(link, false);
            break;
        }
    }
    return false;
}

void HoverLinks::setLook(QLabel *link, bool hover) const
{
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, hover ? m_hover : m_normal);
    link->setPalette(palette);
    QFont font = link->font();
    font.setUnderline(hover);
    link->setFont(font);
}

} // namespace corva
