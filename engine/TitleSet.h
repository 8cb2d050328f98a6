#pragma once

#include <QString>
#include <QStringList>

namespace corva {

// A DVD title lies in VTS_nn_1.VOB, VTS_nn_2.VOB, ...: one program stream cut into pieces.
// Picking piece k means the title from k on, as far as the pieces follow without a gap.
// The menu (piece 0) and other titles never join; any other file stands alone.
class TitleSet final
{
public:
    // The file names (from `entries`, the names in the folder) that make the title `fileName`
    // starts, in order; just `fileName` when it names no piece of a title.
    static QStringList PieceNames(const QString &fileName, const QStringList &entries);
    // The paths read as one source when `path` is picked, looking in its folder.
    static QStringList Pieces(const QString &path);
};

} // namespace corva
