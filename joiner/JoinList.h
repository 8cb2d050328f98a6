#pragma once

#include <QStringList>

namespace corva {

// The files waiting to be joined, in join order.
class JoinList final
{
public:
    void Append(const QString &path);
    // False, and nothing changes, when index names no entry.
    bool RemoveAt(qsizetype index);
    void Clear();

    const QStringList &Entries() const { return m_entries; }
    qsizetype Count() const { return m_entries.size(); }
    // A join needs two files at least.
    bool HasEnoughToJoin() const { return m_entries.size() >= 2; }

private:
    QStringList m_entries;
};

} // namespace corva
