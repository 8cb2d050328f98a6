#include "joiner/JoinList.h"

namespace corva {

void JoinList::Append(const QString &path)
{
    m_entries.append(path);
}

bool JoinList::RemoveAt(qsizetype index)
{
    if (index < 0 || index >= m_entries.size())
        return false;
    m_entries.removeAt(index);
    return true;
}

void JoinList::Clear()
{
    m_entries.clear();
}

} // namespace corva
