#pragma once

#include "encoder/FileChooser.h"

class QFileDialog;

namespace corva {

// The platform's file dialogs through QFileDialog. Patterns match regardless of case, as
// users of drive-letter systems expect, and the save dialog asks before replacing a file.
class QtFileChooser final : public FileChooser
{
public:
    std::optional<QString> ChooseOpen(QWidget *parent, const QString &startName, const QStringList &filters) override;
    std::optional<QString> ChooseSave(QWidget *parent, const QString &startName, const QStringList &filters) override;

    // Prepares a dialog as both choices use it; exposed so a test can inspect it.
    static void Prepare(QFileDialog &dialog, const QString &startName, const QStringList &filters);
};

} // namespace corva
