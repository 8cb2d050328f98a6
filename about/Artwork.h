#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace corva {

// The programs' pictures, compiled in as Qt resources under ":/corva/":
//   banner-encoder.png, banner-joiner.png  708 x 82  the banner Image1 of each main window
//   pbar2.png                              688 x 25  the encoder's progress picture PBar2, stretched
//   encoder-icon.png                        25 x 25  the encoder's icon, also its window icon
//   about-codec.png, about-disc.png         32 x 32  the two pictures at the top right of the
//                                                    encoder's About box
// They are drawn by about/art/ArtGenerator.cpp. Use the functions below, or call Register()
// once before using the paths directly (in style sheets, for instance).
class Artwork final
{
public:
    // Makes the ":/corva/" paths available; the other functions call it themselves.
    static void Register();
    static QString Path(const char *name);

    static QPixmap EncoderBanner();
    static QPixmap JoinerBanner();
    static QPixmap ProgressBar();
    static QPixmap EncoderIcon();
    static QIcon EncoderWindowIcon();
    static QPixmap AboutCodecBadge();
    static QPixmap AboutDiscBadge();
};

} // namespace corva
