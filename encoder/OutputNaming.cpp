#include "encoder/OutputNaming.h"

namespace corva {

QString OutputNaming::Extension(const QString &audience)
{
    return audience.contains(QStringLiteral("VBR"), Qt::CaseSensitive) ? QStringLiteral("rmvb") : QStringLiteral("rm");
}

std::optional<QString> OutputNaming::WithExtension(const QString &source, const QString &extension)
{
    const qsizetype dot = source.lastIndexOf(u'.');
    if (dot < 0)
        return std::nullopt;
    return source.left(dot + 1) + extension;
}

} // namespace corva
