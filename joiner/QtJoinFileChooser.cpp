#include "joiner/QtJoinFileChooser.h"

#include <QFileDialog>

namespace corva {

QStringList QtJoinFileChooser::Filters()
{
#ifdef Q_OS_WIN
    const QString all = QStringLiteral("所有文件 (*.*)");
#else
    // "*.*" only matches names holding a dot here, which would hide files without an extension.
    const QString all = QStringLiteral("所有文件 (*)");
#endif
    return {all, QStringLiteral("rm (*.rm)"), QStringLiteral("rmvb (*.rmvb)")};
}

std::optional<QString> QtJoinFileChooser::ChooseInput(QWidget *parent)
{
    return choose(parent, false);
}

std::optional<QString> QtJoinFileChooser::ChooseOutput(QWidget *parent)
{
    return choose(parent, true);
}

std::optional<QString> QtJoinFileChooser::choose(QWidget *parent, bool save)
{
    QFileDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("CD1"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(Filters());
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    m_fileName = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    return m_fileName;
}

} // namespace corva
