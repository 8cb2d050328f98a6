#include "engine/SubtitleText.h"

#include <QStringDecoder>

namespace corva {

namespace {

// Control characters have no place in a subtitle; a NUL or the like means a binary file, or a
// UTF-16 file without its mark.
bool plainText(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\n' || u == u'\r' || u == u'\f')
            continue;
        if (u < 0x20 || u == 0x7F || u == 0xFFFD || u == 0xFFFE || u == 0xFFFF)
            return false;
    }
    return true;
}

bool strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    return !decoder.hasError() && !text.contains(QChar(0xFFFD));
}

// Byte structure of the two double-byte code pages: GBK leads 0x81-0xFE with trails 0x40-0xFE
// but 0x7F; BIG5 leads 0xA1-0xF9 with trails 0x40-0x7E and 0xA1-0xFE.
struct Pairs
{
    bool valid = true;
    qsizetype pairs = 0;
    qsizetype lowTrails = 0; // trail below 0x80
};

// One walk over the bytes for either code page; `lead` and `trail` say which bytes it allows.
template <typename Lead, typename Trail>
Pairs scan(const QByteArray &bytes, Lead lead, Trail trail)
{
    Pairs p;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80)
            continue;
        if (!lead(b) || i + 1 >= bytes.size() || !trail(static_cast<unsigned char>(bytes[i + 1]))) {
            p.valid = false;
            return p;
        }
        ++p.pairs;
        p.lowTrails += static_cast<unsigned char>(bytes[++i]) < 0x80;
    }
    return p;
}

Pairs scanGbk(const QByteArray &bytes)
{
    return scan(bytes, [](unsigned char b) { return b != 0x80 && b != 0xFF; },
                [](unsigned char t) { return t >= 0x40 && t != 0x7F && t != 0xFF; });
}

Pairs scanBig5(const QByteArray &bytes)
{
    return scan(bytes, [](unsigned char b) { return b >= 0xA1 && b <= 0xF9; },
                [](unsigned char t) { return (t >= 0x40 && t <= 0x7E) || (t >= 0xA1 && t <= 0xFE); });
}

SubtitleText::Decoded decodeWith(const char *name, SubtitleText::Encoding encoding, const QByteArray &bytes)
{
    QStringDecoder decoder(name);
    if (!decoder.isValid())
        return {};
    const QString text = decoder(bytes);
    if (decoder.hasError() || !plainText(text))
        return {};
    return {encoding, text};
}

} // namespace

SubtitleText::Decoded SubtitleText::Decode(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool little = bytes.startsWith("\xFF\xFE");
        if (bytes.size() % 2 != 0)
            return {};
        QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless);
        QString text = decoder(bytes.mid(2));
        if (decoder.hasError() || !plainText(text))
            return {};
        return {Encoding::Utf16, text};
    }
    QByteArray body = bytes;
    if (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    if (strictUtf8(body)) {
        const QString text = QString::fromUtf8(body);
        if (!plainText(text))
            return {};
        return {Encoding::Utf8, text};
    }
    if (body.size() != bytes.size())
        return {}; // marked UTF-8 that is not
    const Pairs gbk = scanGbk(body);
    const Pairs big5 = scanBig5(body);
    if (!gbk.valid && !big5.valid)
        return {};
    // Both readings possible: simplified text in GBK keeps to the GB2312 rows, whose trail bytes
    // are all high; BIG5 puts about two characters in five, and its common punctuation, on low
    // trail bytes.
    bool preferBig5 = !gbk.valid;
    if (gbk.valid && big5.valid)
        preferBig5 = big5.lowTrails * 8 > big5.pairs;
    if (preferBig5) {
        if (Decoded d = decodeWith("Big5", Encoding::Big5, body); d.encoding != Encoding::None)
            return d;
        return gbk.valid ? decodeWith("GBK", Encoding::Gbk, body) : Decoded{};
    }
    if (Decoded d = decodeWith("GBK", Encoding::Gbk, body); d.encoding != Encoding::None)
        return d;
    return big5.valid ? decodeWith("Big5", Encoding::Big5, body) : Decoded{};
}

QString SubtitleText::Name(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Utf8:
        return QStringLiteral("UTF-8");
    case Encoding::Utf16:
        return QStringLiteral("UTF-16");
    case Encoding::Gbk:
        return QStringLiteral("GBK");
    case Encoding::Big5:
        return QStringLiteral("BIG5");
    case Encoding::None:
        break;
    }
    return {};
}

} // namespace corva
