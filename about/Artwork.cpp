#include "about/Artwork.h"

#include <mutex>

// Resources in a static library are not registered until someone asks; this must stand
// outside any namespace.
static void registerArtworkResources()
{
    Q_INIT_RESOURCE(artwork);
}

namespace corva {

void Artwork::Register()
{
    static std::once_flag once;
    std::call_once(once, registerArtworkResources);
}

QString Artwork::Path(const char *name)
{
    Register();
    return QStringLiteral(":/corva/") + QString::fromLatin1(name);
}

QPixmap Artwork::EncoderBanner() { return QPixmap(Path("banner-encoder.png")); }
QPixmap Artwork::JoinerBanner() { return QPixmap(Path("banner-joiner.png")); }
QPixmap Artwork::ProgressBar() { return QPixmap(Path("pbar2.png")); }
QPixmap Artwork::EncoderIcon() { return QPixmap(Path("encoder-icon.png")); }
QIcon Artwork::EncoderWindowIcon() { return QIcon(Path("encoder-icon.png")); }
QPixmap Artwork::AboutCodecBadge() { return QPixmap(Path("about-codec.png")); }
QPixmap Artwork::AboutDiscBadge() { return QPixmap(Path("about-disc.png")); }

} // namespace corva
