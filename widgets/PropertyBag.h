#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace vantel_xp {

// The per-instance values a host keeps for one widget between design and run time.
// Names are compared without regard to case; a value equal to its default is not kept, so a
// bag only ever holds what differs from a fresh instance.
class PropertyBag final
{
public:
    // Keeps `value` under `name`, or forgets `name` when the value equals `defaultValue`.
    // A name already present keeps its place and its first spelling.
    void WriteProperty(const QString &name, const QVariant &value, const QVariant &defaultValue);
    // The stored value, or `defaultValue` when nothing is stored under `name`.
    QVariant ReadProperty(const QString &name, const QVariant &defaultValue) const;

    bool Contains(const QString &name) const;
    // Stored names in the order they were first written.
    QStringList Names() const;
    int Count() const { return static_cast<int>(m_entries.size()); }

private:
    qsizetype IndexOf(const QString &name) const;

    QList<std::pair<QString, QVariant>> m_entries;
};

} // namespace vantel_xp
