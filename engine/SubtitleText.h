#pragma once

#include <QByteArray>
#include <QString>

namespace corva {

// The text of a subtitle file as users have them: UTF-8 with or without its mark, UTF-16 with
// its mark, GBK or BIG5. The encoding is found from the bytes, never assumed.
class SubtitleText final
{
public:
    enum class Encoding { None, Utf8, Utf16, Gbk, Big5 };

    struct Decoded
    {
        Encoding encoding = Encoding::None;
        QString text;
    };

    // Encoding::None when the bytes are none of the accepted encodings (or not text at all).
    static Decoded Decode(const QByteArray &bytes);
    static QString Name(Encoding encoding);
};

} // namespace corva
