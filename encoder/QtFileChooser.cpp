#include "encoder/QtFileChooser.h"

#include <QFileDialog>
#include <QFileInfo>

namespace corva {

namespace {

std::optional<QString> run(QFileDialog &dialog)
{
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

} // namespace

void QtFileChooser::Prepare(QFileDialog &dialog, const QString &startName, const QStringList &filters)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(filters);
    // Without CaseSensitive in the filter flags the dialog's model matches *.avi against A.AVI too.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (!startName.isEmpty()) {
        const QFileInfo info(startName);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
}

std::optional<QString> QtFileChooser::ChooseOpen(QWidget *parent, const QString &startName, const QStringList &filters)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    Prepare(dialog, startName, filters);
    return run(dialog);
}

std::optional<QString> QtFileChooser::ChooseSave(QWidget *parent, const QString &startName, const QStringList &filters)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    Prepare(dialog, startName, filters);
    return run(dialog);
}

} // namespace corva
