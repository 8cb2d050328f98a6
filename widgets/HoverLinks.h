#pragma once

#include <QColor>
#include <QList>
#include <QObject>

class QLabel;
class QWidget;

namespace corva {

// The links' hover look. The pointer over a link gives that link the hover look; only the
// pointer over the bare background of a reset area (not over one of its children) gives all
// links their normal look back. Passing over any other widget changes nothing.
class HoverLinks final : public QObject
{
public:
    HoverLinks(QColor normal, QColor hover, QObject *parent);

    void AddLink(QLabel *link);
    void AddResetArea(QWidget *area);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setLook(QLabel *link, bool hover) const;

    QColor m_normal;
    QColor m_hover;
    QList<QLabel *> m_links;
    QList<QWidget *> m_areas;
};

} // namespace corva
