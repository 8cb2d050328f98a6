#pragma once

#include <QString>

#include <optional>

namespace corva {

// How the output name follows the source and the audience.
class OutputNaming final
{
public:
    // "rmvb" when the audience name holds the capitals "VBR", else "rm".
    static QString Extension(const QString &audience);
    // The source up to and including its last dot, then the extension; nothing without a dot.
    static std::optional<QString> WithExtension(const QString &source, const QString &extension);
};

} // namespace corva
