#include "common/Gbk.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace corva {

namespace {
// GB18030 is a superset of GBK that agrees with it on every GBK sequence; ICU knows both names.
constexpr const char *kName = "GBK";
} // namespace

QString Gbk::Decode(const QByteArray &bytes)
{
    QStringDecoder decoder(kName);
    if (!decoder.isValid())
        return QString::fromLocal8Bit(bytes);
    return decoder.decode(bytes);
}

QByteArray Gbk::Encode(const QString &text)
{
    QStringEncoder encoder(kName);
    if (!encoder.isValid())
        return text.toLocal8Bit();
    return encoder.encode(text);
}

bool Gbk::Available()
{
    return QStringDecoder(kName).isValid();
}

} // namespace corva
