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

QString Gbk::TextProblem(const QString &text, const QString &what)
{
    const QByteArray bytes = Encode(text);
    if (Decode(bytes) != text) {
        // Name the first character that does not survive, by itself, so the user can find it.
        for (qsizetype i = 0; i < text.size();) {
            const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QString one = text.mid(i, length);
            if (Decode(Encode(one)) != one) {
                const char32_t code = length == 2 ? QChar::surrogateToUcs4(one[0], one[1]) : one[0].unicode();
                return QStringLiteral("%1中的字符“%2”（U+%3）无法用 GBK 编码表示，请换掉它")
                    .arg(what, one, QString::number(code, 16).toUpper().rightJustified(4, u'0'));
            }
            i += length;
        }
        return QStringLiteral("%1中有 GBK 编码无法表示的字符").arg(what);
    }
    if (bytes.size() > kMaxTextBytes)
        return QStringLiteral("%1太长：GBK 编码后有 %2 字节，最多 %3 字节").arg(what).arg(bytes.size()).arg(kMaxTextBytes);
    return {};
}

bool Gbk::Available()
{
    return QStringDecoder(kName).isValid();
}

} // namespace corva
