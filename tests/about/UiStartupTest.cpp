#include "about/UiStartup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QTranslator>

namespace {

TEST(UiStartup, MapsTheDesignFontAndLoadsQtsChineseTexts)
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    ASSERT_TRUE(corva::UiStartup::Apply(*app));
    EXPECT_TRUE(QFont::substitutes(QStringLiteral("宋体")).contains(QStringLiteral("AR PL UMing CN"), Qt::CaseInsensitive));
    EXPECT_TRUE(QFont::substitutes(QStringLiteral("SimSun")).contains(QStringLiteral("AR PL UMing CN"), Qt::CaseInsensitive));
    // The font really resolves to a Chinese face rather than to some fallback.
    EXPECT_EQ(QFontInfo(QFont(QStringLiteral("宋体"), 9)).family(), QStringLiteral("AR PL UMing CN"));
    // Message-box buttons come out in Chinese.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("是(&Y)"));
}

} // namespace
