// Draws the programs' pictures. Run it after changing a drawing and commit the PNGs it writes:
//   corva_artgen <folder>
// The pictures are plain QPainter work so that anyone can change them without an image editor.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cstdio>
#include <functional>

namespace {

const QString kFamily = QStringLiteral("AR PL UMing CN");

QFont font(int pixelSize, bool bold)
{
    QFont f(kFamily);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A light field with a dark band across the top left that fades out to the right. The links
// placed on the banner (blue text at the bottom left and the narrow one at the right end)
// stand on the light part, so they stay readable.
QImage banner(const QString &title, const QString &subtitle)
{
    QImage image = canvas(708, 82);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient ground(0, 0, 0, 82);
    ground.setColorAt(0.0, QColor(0xdc, 0xe9, 0xf8));
    ground.setColorAt(1.0, QColor(0xf6, 0xf9, 0xfd));
    p.fillRect(image.rect(), ground);

    QLinearGradient band(0, 0, 640, 0);
    band.setColorAt(0.0, QColor(0x1d, 0x44, 0x86));
    band.setColorAt(0.55, QColor(0x3a, 0x6e, 0xb8, 230));
    band.setColorAt(1.0, QColor(0x8d, 0xb4, 0xe3, 0));
    QPainterPath bandPath;
    bandPath.moveTo(0, 0);
    bandPath.lineTo(640, 0);
    bandPath.cubicTo(560, 30, 420, 60, 0, 56);
    bandPath.closeSubpath();
    p.fillPath(bandPath, band);

    // Ripples along the bottom: the river of the title.
    for (int i = 0; i < 3; ++i) {
        QPainterPath wave;
        const double y = 62 + i * 6;
        wave.moveTo(0, y);
        for (int x = 0; x < 708; x += 59)
            wave.cubicTo(x + 20, y - 5, x + 39, y + 5, x + 59, y);
        p.setPen(QPen(QColor(0x7f, 0xa8, 0xdb, 90 - i * 25), 1.4));
        p.drawPath(wave);
    }

    p.setFont(font(26, true));
    p.setPen(QColor(0, 0, 0, 70));
    p.drawText(QPoint(19, 37), title);
    p.setPen(Qt::white);
    p.drawText(QPoint(18, 36), title);
    if (!subtitle.isEmpty()) {
        p.setFont(font(15, false));
        p.setPen(QColor(0xe6, 0xef, 0xfb));
        p.drawText(QPoint(196, 35), subtitle);
    }
    return image;
}

QImage progressBar()
{
    QImage image = canvas(688, 25);
    QPainter p(&image);
    QLinearGradient across(0, 0, 688, 0);
    across.setColorAt(0.0, QColor(0x2a, 0x5d, 0xb0));
    across.setColorAt(1.0, QColor(0x4f, 0x9c, 0xe8));
    p.fillRect(image.rect(), across);
    QLinearGradient gloss(0, 0, 0, 25);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 120));
    gloss.setColorAt(0.45, QColor(255, 255, 255, 30));
    gloss.setColorAt(0.5, QColor(0, 0, 0, 0));
    gloss.setColorAt(1.0, QColor(0, 0, 0, 40));
    p.fillRect(image.rect(), gloss);
    return image;
}

QImage encoderIcon()
{
    QImage image = canvas(25, 25);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, 25);
    face.setColorAt(0.0, QColor(0x4a, 0x86, 0xd4));
    face.setColorAt(1.0, QColor(0x1d, 0x44, 0x86));
    p.setPen(QPen(QColor(0x12, 0x2c, 0x58), 1));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(0.5, 0.5, 24, 24), 5, 5);
    p.setFont(font(17, true));
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 25, 24), Qt::AlignCenter, QStringLiteral("墨"));
    return image;
}

// Two small badges for the top right of the encoder's About box, one per feature note.
QImage codecBadge()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient face(12, 10, 24);
    face.setColorAt(0.0, QColor(0xff, 0xb3, 0x5c));
    face.setColorAt(1.0, QColor(0xd0, 0x4a, 0x12));
    p.setPen(QPen(QColor(0x8a, 0x2c, 0x06), 1));
    p.setBrush(face);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setFont(font(11, true));
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("RV10"));
    return image;
}

QImage discBadge()
{
    QImage image = canvas(32, 32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QConicalGradient sheen(16, 16, 30);
    sheen.setColorAt(0.0, QColor(0xe8, 0xe8, 0xf0));
    sheen.setColorAt(0.2, QColor(0x9f, 0xd8, 0xf5));
    sheen.setColorAt(0.4, QColor(0xf5, 0xe6, 0x9f));
    sheen.setColorAt(0.6, QColor(0xe8, 0xb0, 0xe8));
    sheen.setColorAt(0.8, QColor(0xc8, 0xc8, 0xd4));
    sheen.setColorAt(1.0, QColor(0xe8, 0xe8, 0xf0));
    p.setPen(QPen(QColor(0x70, 0x70, 0x80), 1));
    p.setBrush(sheen);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(QColor(0xf0, 0xf0, 0xf0));
    p.drawEllipse(QRectF(12, 12, 8, 8));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(14.5, 14.5, 3, 3));
    p.setFont(font(8, true));
    p.setPen(QColor(0x30, 0x30, 0x60));
    p.drawText(QRect(0, 20, 32, 10), Qt::AlignCenter, QStringLiteral("DVD"));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: corva_artgen <folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "corva_artgen: cannot create %s\n", argv[1]);
        return 1;
    }

    const QString title = QStringLiteral("墨川Real凌波");
    const struct
    {
        const char *name;
        std::function<QImage()> draw;
    } pictures[] = {
        {"banner-encoder.png", [&] { return banner(title, QString()); }},
        {"banner-joiner.png", [&] { return banner(title, QStringLiteral("影片合并工具")); }},
        {"pbar2.png", progressBar},
        {"encoder-icon.png", encoderIcon},
        {"about-codec.png", codecBadge},
        {"about-disc.png", discBadge},
    };
    for (const auto &picture : pictures) {
        const QString path = out.filePath(QString::fromLatin1(picture.name));
        if (!picture.draw().save(path, "PNG")) {
            std::fprintf(stderr, "corva_artgen: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
