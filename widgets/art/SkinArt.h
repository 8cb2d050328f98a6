#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <utility>

namespace vantel_xp {

// Draws the skin strips the buttons cut their faces from. The PNGs in this folder are its
// output; the widgets load those, this code only has to run when the look changes.
class SkinArt final
{
public:
    // Five 18 x 21 cells: rest, pressed, disabled, hover, emphasised rest.
    static QImage PushButtonStrip();
    // Four 21 x 21 cells (normal, hover, pressed, disabled) of one glyph set:
    // 0 close, 1 maximise, 2 minimise, 3 restore.
    static QImage TitleBarStrip(int glyphSet);
    // Three 21 x 21 cells: normal, hover, pressed.
    static QImage HelpStrip();

    // Every strip with the file name it is shipped under.
    static QList<std::pair<QString, QImage>> AllStrips();
};

} // namespace vantel_xp
