#pragma once

#include <QString>

#include <optional>

namespace corva {

// How the joiner names things after the files the user picked.
class JoinNaming final
{
public:
    // "rmvb" when that text occurs anywhere in the path, folders included, in exactly that
    // case; otherwise "rm".
    static QString TypeWord(const QString &path);

    // The path up to its last dot, then "_合并." and the type word. Nothing for a path
    // without a dot; the dot may also be one in a folder name.
    static std::optional<QString> OutputName(const QString &path, const QString &typeWord);
};

} // namespace corva
