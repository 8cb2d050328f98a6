#include "common/AppInfo.h"
#include "common/AudienceDefinition.h"
#include "common/Gbk.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace corva;

namespace {

TEST(AppInfo, CaptionsCarryTitleBlankAndDottedVersion)
{
    // The encoder's title ends in a blank, so two blanks stand before the number.
    EXPECT_EQ(AppInfo::Encoder().Caption(), QStringLiteral("墨川Real凌波  1.4.90"));
    EXPECT_EQ(AppInfo::Joiner().Caption(), QStringLiteral("墨川Real凌波 影片合并工具 1.0.0"));
    EXPECT_EQ(AppInfo(QStringLiteral("t"), 10, 0, 7).Version(), QStringLiteral("10.0.7"));
}

TEST(Gbk, RoundTripsChineseInTheTwoByteForm)
{
    ASSERT_TRUE(Gbk::Available());
    const QByteArray bytes = Gbk::Encode(QStringLiteral("墨川"));
    EXPECT_EQ(bytes, QByteArray("\xC4\xAB\xB4\xA8"));
    EXPECT_EQ(Gbk::Decode(bytes), QStringLiteral("墨川"));
}

TEST(AudienceDefinition, ParsesKeysAndRejectsBadValues)
{
    QString error;
    auto d = AudienceDefinition::Parse(QStringLiteral("# c\nformat=1\nname= 带空格 \r\ntotal_kbps=300\nvideo_kbps=250\naudio_kbps=50\nvbr=1\nvbr_qmin=3\nvbr_qmax=20\n"), &error);
    ASSERT_TRUE(d) << error.toStdString();
    EXPECT_EQ(d->name, QStringLiteral(" 带空格 "));
    EXPECT_EQ(d->videoKbps, 250);
    EXPECT_TRUE(d->vbr);
    EXPECT_EQ(d->vbrQmin, 3);

    EXPECT_FALSE(AudienceDefinition::Parse(QStringLiteral("name=x\ntotal_kbps=abc\n"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(AudienceDefinition::Parse(QStringLiteral("total_kbps=100\n"), &error));
    EXPECT_FALSE(AudienceDefinition::Parse(QStringLiteral("name=x\nvbr_qmin=20\nvbr_qmax=4\n"), &error));
    EXPECT_FALSE(AudienceDefinition::Parse(QStringLiteral("name=x\nformat=2\n"), &error));
}

// The shipped data: every name in audi.txt has a definition, and "VBR" in a name agrees with
// the definition's flag (the window names the file .rmvb from the name, the engine encodes from the flag).
TEST(ShippedAudiences, EveryListedNameIsDefinedAndVbrAgrees)
{
    QFile list(QStringLiteral(CORVA_APP_DIR "/audi.txt"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QByteArray raw = list.readAll();
    ASSERT_TRUE(raw.endsWith("\r\n"));
    const QStringList names = Gbk::Decode(raw.left(raw.size() - 2)).split(QStringLiteral("\r\n"));
    ASSERT_GE(names.size(), 6);
    EXPECT_FALSE(names.at(0).contains(QStringLiteral("VBR")));
    EXPECT_TRUE(names.at(1).contains(QStringLiteral("VBR")));

    QStringList errors;
    const auto all = AudienceDefinition::LoadAll(QStringLiteral(CORVA_APP_DIR "/Audiences/"), &errors);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(u'\n').toStdString();
    EXPECT_EQ(all.size(), names.size());
    for (const QString &name : names) {
        QString error;
        auto d = AudienceDefinition::Find(QStringLiteral(CORVA_APP_DIR "/Audiences/"), name, &error);
        ASSERT_TRUE(d) << error.toStdString();
        EXPECT_EQ(d->vbr, name.contains(QStringLiteral("VBR"))) << name.toStdString();
        EXPECT_EQ(d->videoKbps + d->audioKbps, d->totalKbps) << name.toStdString();
    }
    QString error;
    EXPECT_FALSE(AudienceDefinition::Find(QStringLiteral(CORVA_APP_DIR "/Audiences/"), QStringLiteral("nope"), &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nope")));
}

} // namespace
