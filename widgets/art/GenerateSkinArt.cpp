// Writes the skin strips into the folder given as the only argument (normally widgets/art).
#include "widgets/art/SkinArt.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        err << "usage: generate_skin_art <output folder>\n";
        return 2;
    }
    const QDir dir(args.at(1));
    if (!dir.exists()) {
        err << "no such folder: " << args.at(1) << "\n";
        return 1;
    }
    for (const auto &[name, image] : vantel_xp::SkinArt::AllStrips()) {
        const QString path = dir.filePath(name);
        if (!image.save(path, "PNG")) {
            err << "cannot write " << path << "\n";
            return 1;
        }
    }
    return 0;
}
