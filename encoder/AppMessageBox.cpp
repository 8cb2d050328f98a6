#include "encoder/AppMessageBox.h"

namespace corva {

QString &AppMessageBox::title()
{
    static QString value;
    return value;
}

void AppMessageBox::SetTitle(const QString &t)
{
    title() = t;
}

QMessageBox::StandardButton AppMessageBox::Show(QWidget *parent, const QString &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::NoIcon, title(), text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace corva
