#include "encoder/CommonDialog.h"

#include "encoder/FileChooser.h"

namespace corva {

CommonDialog::CommonDialog(FileChooser *chooser) : m_chooser(chooser) {}

QStringList CommonDialog::NameFilters(const QString &filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts.at(i + 1).split(u';', Qt::SkipEmptyParts);
        if (patterns.contains(QStringLiteral("*.*")) && !patterns.contains(QStringLiteral("*")))
            patterns << QStringLiteral("*");
        entries << parts.at(i) + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return entries;
}

bool CommonDialog::ShowOpen(QWidget *parent)
{
    const auto chosen = m_chooser->ChooseOpen(parent, m_fileName, NameFilters(m_filter));
    if (!chosen)
        return false;
    m_fileName = *chosen;
    return true;
}

bool CommonDialog::ShowSave(QWidget *parent)
{
    const auto chosen = m_chooser->ChooseSave(parent, m_fileName, NameFilters(m_filter));
    if (!chosen)
        return false;
    m_fileName = *chosen;
    return true;
}

} // namespace corva
