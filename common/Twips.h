#pragma once

#include <QPoint>
#include <QRect>

namespace corva {

// Window designs are measured in twips; the windows draw at 15 twips to the pixel.
class Twips final
{
public:
    static constexpr int kPerPixel = 15;

    static constexpr int ToPixels(int twips)
    {
        return (twips + kPerPixel / 2) / kPerPixel;
    }
    static QRect Rect(int left, int top, int width, int height)
    {
        return QRect(ToPixels(left), ToPixels(top), ToPixels(width), ToPixels(height));
    }
    static QPoint Point(int x, int y) { return QPoint(ToPixels(x), ToPixels(y)); }
};

} // namespace corva
