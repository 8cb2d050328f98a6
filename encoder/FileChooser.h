#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace corva {

// Asks the user for a file. Injected so tests never raise a real dialog.
class FileChooser
{
public:
    virtual ~FileChooser() = default;
    // nothing when the user cancelled
    virtual std::optional<QString> ChooseOpen(QWidget *parent, const QString &startName, const QStringList &filters) = 0;
    virtual std::optional<QString> ChooseSave(QWidget *parent, const QString &startName, const QStringList &filters) = 0;
};

} // namespace corva
