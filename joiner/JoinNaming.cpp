#include "joiner/JoinNaming.h"

namespace corva {

QString JoinNaming::TypeWord(const QString &path)
{
    return path.contains(QStringLiteral("rmvb"), Qt::CaseSensitive) ? QStringLiteral("rmvb")
                                                                    : QStringLiteral("rm");
}

std::optional<QString> JoinNaming::OutputName(const QString &path, const QString &typeWord)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0)
        return std::nullopt;
    return path.left(dot) + QStringLiteral("_合并.") + typeWord;
}

} // namespace corva
