#include "about/Artwork.h"
#include "about/UiStartup.h"
#include "about/frmAbout.h"
#include "common/AppInfo.h"
#include "common/AppPaths.h"
#include "encoder/AppMessageBox.h"
#include "encoder/Form1.h"
#include "encoder/QtFileChooser.h"
#include "engine/FfmpegEncodingEngine.h"
#include "platform/OpticalDrives.h"
#include "platform/PowerControl.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    corva::UiStartup::Apply(app);

    const corva::AppInfo info = corva::AppInfo::Encoder();
    corva::AppMessageBox::SetTitle(info.Title());
    QApplication::setWindowIcon(corva::Artwork::EncoderWindowIcon());

    corva::QtFileChooser chooser;
    corva::FfmpegEncodingEngine pro;
    corva::Form1Services services;
    services.appDir = corva::AppPaths::AppDir();
    services.opticalDrives = corva::platform::ScanCdromDrives();
    services.fileChooser = &chooser;
    services.engine = &pro;
    services.sleepInhibitor = corva::platform::SystemSleepInhibitor();
    services.showAbout = [info] { corva::frmAbout::ShowFor(info, corva::frmAbout::Variant::Encoder); };

    corva::Form1 form(std::move(services));
    QString error;
    if (!form.Load(&error)) {
        corva::AppMessageBox::Show(nullptr, QStringLiteral("无法读取压缩率列表，程序无法继续。\n%1").arg(error));
        return 1;
    }
    form.show();
    return app.exec();
}
