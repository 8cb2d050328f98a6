#pragma once

#include <QMessageBox>
#include <QString>

namespace corva {

// The program's message boxes: the application title as caption, no icon.
class AppMessageBox final
{
public:
    static QMessageBox::StandardButton Show(QWidget *parent, const QString &text,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    static void SetTitle(const QString &title);

private:
    static QString &title();
};

} // namespace corva
