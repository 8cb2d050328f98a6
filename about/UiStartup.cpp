#include "about/UiStartup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

namespace corva {

bool UiStartup::Apply(QApplication &app)
{
    const QStringList chinese{QStringLiteral("AR PL UMing CN")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), chinese);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), chinese);

    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QApplication::installTranslator(translator);
}

} // namespace corva
