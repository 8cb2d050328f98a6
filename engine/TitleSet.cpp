#include "engine/TitleSet.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace corva {

namespace {

struct PieceName
{
    int title = -1;
    int piece = -1;
};

PieceName parse(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^VTS_(\\d\\d)_(\\d)\\.VOB$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(fileName);
    if (!m.hasMatch())
        return {};
    return {m.captured(1).toInt(), m.captured(2).toInt()};
}

} // namespace

QStringList TitleSet::PieceNames(const QString &fileName, const QStringList &entries)
{
    const PieceName first = parse(fileName);
    if (first.piece < 1)
        return {fileName};
    // Same title, piece number -> name as it is spelled on disk; the first spelling wins.
    QHash<int, QString> pieces;
    for (const QString &entry : entries) {
        const PieceName p = parse(entry);
        if (p.title == first.title && p.piece > first.piece && !pieces.contains(p.piece))
            pieces.insert(p.piece, entry);
    }
    QStringList names{fileName};
    for (int k = first.piece + 1; pieces.contains(k); ++k)
        names << pieces.value(k);
    return names;
}

QStringList TitleSet::Pieces(const QString &path)
{
    const QFileInfo info(path);
    if (parse(info.fileName()).piece < 1)
        return {path};
    const QDir folder = info.dir();
    const QStringList entries = folder.entryList(QDir::Files | QDir::System | QDir::Hidden);
    const QStringList names = PieceNames(info.fileName(), entries);
    QStringList paths{path};
    for (qsizetype i = 1; i < names.size(); ++i)
        paths << folder.filePath(names[i]);
    return paths;
}

} // namespace corva
