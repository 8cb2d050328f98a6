#include "widgets/PropertyBag.h"

namespace vantel_xp {

void PropertyBag::WriteProperty(const QString &name, const QVariant &value, const QVariant &defaultValue)
{
    const qsizetype at = IndexOf(name);
    if (value == defaultValue) {
        if (at >= 0)
            m_entries.removeAt(at);
        return;
    }
    if (at >= 0)
        m_entries[at].second = value;
    else
        m_entries.append({name, value});
}

QVariant PropertyBag::ReadProperty(const QString &name, const QVariant &defaultValue) const
{
    const qsizetype at = IndexOf(name);
    return at >= 0 ? m_entries.at(at).second : defaultValue;
}

bool PropertyBag::Contains(const QString &name) const
{
    return IndexOf(name) >= 0;
}

QStringList PropertyBag::Names() const
{
    QStringList names;
    for (const auto &entry : m_entries)
        names << entry.first;
    return names;
}

qsizetype PropertyBag::IndexOf(const QString &name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).first.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace vantel_xp
