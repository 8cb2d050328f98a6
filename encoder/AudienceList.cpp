#include "encoder/AudienceList.h"

#include "common/Gbk.h"

#include <QFile>

namespace corva {

QStringList AudienceList::Parse(const QByteArray &bytes)
{
    static const QByteArray bom("\xEF\xBB\xBF");
    // GBK trail bytes never take the values of CR or LF, so decoding first is safe.
    const QString text = bytes.startsWith(bom) ? QString::fromUtf8(bytes.mid(bom.size())) : Gbk::Decode(bytes);
    QStringList lines;
    QString current;
    bool open = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            lines << current;
            current.clear();
            open = false;
            continue;
        }
        current += c;
        open = true;
    }
    if (open)
        lines << current;
    return lines;
}

std::optional<QStringList> AudienceList::Load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("无法读取压缩率列表文件：%1").arg(path);
        return std::nullopt;
    }
    const QStringList lines = Parse(file.readAll());
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("无法读取压缩率列表文件：%1").arg(path);
        return std::nullopt;
    }
    if (lines.isEmpty()) {
        if (error)
            *error = QStringLiteral("压缩率列表文件中没有任何压缩率：%1").arg(path);
        return std::nullopt;
    }
    return lines;
}

} // namespace corva
