#include "common/AppInfo.h"
#include "common/AppPaths.h"
#include "encoder/AppMessageBox.h"
#include "encoder/Form1.h"
#include "encoder/QtFileChooser.h"
#include "platform/OpticalDrives.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // "宋体" is the face the window is designed in; elsewhere a Song-style CJK face stands in.
    QFont::insertSubstitutions(QStringLiteral("宋体"), {QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC")});
    QFont::insertSubstitutions(QStringLiteral("SimSun"), {QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC")});
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    const corva::AppInfo info = corva::AppInfo::Encoder();
    corva::AppMessageBox::SetTitle(info.Title());

    corva::QtFileChooser chooser;
    corva::Form1Services services;
    services.appDir = corva::AppPaths::AppDir();
    services.opticalDrives = corva::platform::ScanCdromDrives();
    services.fileChooser = &chooser;

    corva::Form1 form(std::move(services));
    QString error;
    if (!form.Load(&error)) {
        corva::AppMessageBox::Show(nullptr, QStringLiteral("无法读取压缩率列表，程序无法继续。\n%1").arg(error));
        return 1;
    }
    form.show();
    return app.exec();
}
