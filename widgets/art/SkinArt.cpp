#include "widgets/art/SkinArt.h"

#include <QColor>

#include <array>
#include <cmath>

namespace vantel_xp {
namespace {

// Everything is set pixel by pixel: no antialiasing, so the output does not depend on how a
// Qt version rasterises curves and the committed PNGs can be checked against this code.

QColor Mix(const QColor &a, const QColor &b, double t)
{
    auto lerp = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(lerp(a.red(), b.red()), lerp(a.green(), b.green()), lerp(a.blue(), b.blue()));
}

// Piecewise linear over rows: stops are (row, colour) with ascending rows.
QColor Gradient(const std::array<std::pair<int, QColor>, 3> &stops, int row)
{
    if (row <= stops[0].first)
        return stops[0].second;
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (row <= stops[i].first) {
            const double span = stops[i].first - stops[i - 1].first;
            return Mix(stops[i - 1].second, stops[i].second, (row - stops[i - 1].first) / span);
        }
    }
    return stops.back().second;
}

const QColor kRim(0x00, 0x3C, 0x74);
const QColor kBackdrop(0xFF, 0xFF, 0xFF);

struct PushLook
{
    QColor rim;
    std::array<std::pair<int, QColor>, 3> face;
    bool innerRim = false;
    QColor innerTop, innerSide, innerBottom;
};

void DrawPushCell(QImage &strip, int cell, const PushLook &look)
{
    constexpr int w = 18;
    constexpr int h = 21;
    const int x0 = cell * w;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool left = x == 0, right = x == w - 1, top = y == 0, bottom = y == h - 1;
            QColor c = Gradient(look.face, y);
            if (look.innerRim && (x <= 2 || x >= w - 3 || y <= 2 || y >= h - 3)) {
                if (y <= 2)
                    c = look.innerTop;
                else if (y >= h - 3)
                    c = look.innerBottom;
                else
                    c = look.innerSide;
            }
            if ((left || right) && (top || bottom))
                c = Mix(look.rim, kBackdrop, 0.75); // the rounded corner
            else if (left || right || top || bottom)
                c = look.rim;
            else if ((x == 1 || x == w - 2) && (y == 1 || y == h - 2))
                c = Mix(look.rim, c, 0.5);
            strip.setPixelColor(x0 + x, y, c);
        }
    }
}

struct SquareLook
{
    QColor border;
    QColor top;
    QColor bottom;
};

enum class Variant { Normal, Hover, Pressed, Disabled };

QColor Vary(const QColor &c, Variant v)
{
    switch (v) {
    case Variant::Normal:
        return c;
    case Variant::Hover:
        return Mix(c, QColor(0xFF, 0xFF, 0xFF), 0.25);
    case Variant::Pressed:
        return Mix(c, QColor(0x00, 0x00, 0x00), 0.2);
    case Variant::Disabled:
        return Mix(c, QColor(0xEC, 0xE9, 0xD8), 0.6);
    }
    return c;
}

// One 21 x 21 rounded square with a glyph; the glyph is a list of rows, 'X' marks white.
using GlyphRows = std::array<const char *, 21>;

void DrawSquareCell(QImage &strip, int cell, const SquareLook &look, Variant variant,
                    const GlyphRows &glyph)
{
    constexpr int n = 21;
    const int x0 = cell * n;
    const QColor glyphColour = Vary(QColor(0xFF, 0xFF, 0xFF), variant);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const int dx = std::min(x, n - 1 - x);
            const int dy = std::min(y, n - 1 - y);
            QColor c;
            if (dx + dy <= 1)
                c = kBackdrop;
            else if (dx == 0 || dy == 0 || (dx == 1 && dy == 1))
                c = Vary(look.border, variant);
            else if (glyph[static_cast<std::size_t>(y)][x] == 'X')
                c = glyphColour;
            else
                c = Vary(Mix(look.top, look.bottom, y / 20.0), variant);
            strip.setPixelColor(x0 + x, y, c);
        }
    }
}

// clang-format off
const GlyphRows kClose = {
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    "......XX......XX.....",
    ".......XX....XX......",
    "........XX..XX.......",
    ".........XXXX........",
    "..........XX.........",
    ".........XXXX........",
    "........XX..XX.......",
    ".......XX....XX......",
    "......XX......XX.....",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
};
const GlyphRows kMaximise = {
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....XXXXXXXXXXX.....",
    ".....XXXXXXXXXXX.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....X.........X.....",
    ".....XXXXXXXXXXX.....",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
};
const GlyphRows kMinimise = {
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....XXXXXX..........",
    ".....XXXXXX..........",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
};
const GlyphRows kRestore = {
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    "........XXXXXXXX.....",
    "........XXXXXXXX.....",
    "........X......X.....",
    "........X......X.....",
    ".....XXXXXXXX..X.....",
    ".....XXXXXXXX..X.....",
    ".....X......X..X.....",
    ".....X......XXXX.....",
    ".....X......X........",
    ".....X......X........",
    ".....X......X........",
    ".....XXXXXXXX........",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
};
const GlyphRows kQuestion = {
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    "........XXXXX........",
    ".......XX...XX.......",
    ".......XX...XX.......",
    "............XX.......",
    "...........XX........",
    "..........XX.........",
    "..........XX.........",
    "..........XX.........",
    ".....................",
    "..........XX.........",
    "..........XX.........",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
    ".....................",
};
// clang-format on

const SquareLook kBlue{QColor(0x1B, 0x47, 0xB8), QColor(0x5A, 0x96, 0xF8), QColor(0x1F, 0x56, 0xD6)};
const SquareLook kRedOrange{QColor(0xA5, 0x32, 0x1A), QColor(0xF0, 0x8A, 0x5E), QColor(0xD8, 0x45, 0x1C)};

QImage NewStrip(int width)
{
    QImage strip(width, 21, QImage::Format_RGB32);
    strip.fill(kBackdrop);
    return strip;
}

} // namespace

QImage SkinArt::PushButtonStrip()
{
    QImage strip = NewStrip(90);
    const std::array<std::pair<int, QColor>, 3> restFace{
        {{1, QColor(0xFF, 0xFF, 0xFF)}, {14, QColor(0xF3, 0xF3, 0xEF)}, {19, QColor(0xF0, 0xF0, 0xEA)}}};
    const PushLook rest{kRim, restFace, false, {}, {}, {}};
    const PushLook pressed{kRim,
                           {{{1, QColor(0xDA, 0xD9, 0xD1)}, {10, QColor(0xE2, 0xE1, 0xDA)}, {19, QColor(0xE6, 0xE5, 0xDF)}}},
                           false, {}, {}, {}};
    const PushLook disabled{QColor(0xC9, 0xC7, 0xBA),
                            {{{1, QColor(0xF5, 0xF4, 0xEA)}, {10, QColor(0xF5, 0xF4, 0xEA)}, {19, QColor(0xF5, 0xF4, 0xEA)}}},
                            false, {}, {}, {}};
    const PushLook hover{kRim, restFace, true,
                         QColor(0xFF, 0xF0, 0xCF), QColor(0xFC, 0xCA, 0x69), QColor(0xE5, 0x97, 0x00)};
    const PushLook emphasised{kRim, restFace, true,
                              QColor(0xCE, 0xE7, 0xFF), QColor(0xA0, 0xBE, 0xEC), QColor(0x69, 0x82, 0xEE)};
    DrawPushCell(strip, 0, rest);
    DrawPushCell(strip, 1, pressed);
    DrawPushCell(strip, 2, disabled);
    DrawPushCell(strip, 3, hover);
    DrawPushCell(strip, 4, emphasised);
    return strip;
}

QImage SkinArt::TitleBarStrip(int glyphSet)
{
    QImage strip = NewStrip(84);
    const SquareLook &look = glyphSet == 0 ? kRedOrange : kBlue;
    const GlyphRows *glyph = &kClose;
    switch (glyphSet) {
    case 1:
        glyph = &kMaximise;
        break;
    case 2:
        glyph = &kMinimise;
        break;
    case 3:
        glyph = &kRestore;
        break;
    default:
        break;
    }
    DrawSquareCell(strip, 0, look, Variant::Normal, *glyph);
    DrawSquareCell(strip, 1, look, Variant::Hover, *glyph);
    DrawSquareCell(strip, 2, look, Variant::Pressed, *glyph);
    // The restore set's washed-out cell carries the single window, as the set it pairs with.
    DrawSquareCell(strip, 3, look, Variant::Disabled, glyphSet == 3 ? kMaximise : *glyph);
    return strip;
}

QImage SkinArt::HelpStrip()
{
    QImage strip = NewStrip(63);
    DrawSquareCell(strip, 0, kBlue, Variant::Normal, kQuestion);
    DrawSquareCell(strip, 1, kBlue, Variant::Hover, kQuestion);
    DrawSquareCell(strip, 2, kBlue, Variant::Pressed, kQuestion);
    return strip;
}

QList<std::pair<QString, QImage>> SkinArt::AllStrips()
{
    return {
        {QStringLiteral("xpcmdbutton.png"), PushButtonStrip()},
        {QStringLiteral("xptopbuttons_close.png"), TitleBarStrip(0)},
        {QStringLiteral("xptopbuttons_maximize.png"), TitleBarStrip(1)},
        {QStringLiteral("xptopbuttons_minimize.png"), TitleBarStrip(2)},
        {QStringLiteral("xptopbuttons_restore.png"), TitleBarStrip(3)},
        {QStringLiteral("xphelp.png"), HelpStrip()},
    };
}

} // namespace vantel_xp
