#include "common/AudienceDefinition.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace corva {

namespace {

bool readInt(const QHash<QString, QString> &values, const QString &key, int low, int high, int *out, QString *error)
{
    const auto it = values.constFind(key);
    if (it == values.constEnd())
        return true; // keeps the default
    bool ok = false;
    const int v = it->trimmed().toInt(&ok);
    if (!ok || v < low || v > high) {
        *error = QStringLiteral("受众定义中的 %1 值“%2”无效").arg(key, *it);
        return false;
    }
    *out = v;
    return true;
}

} // namespace

std::optional<AudienceDefinition> AudienceDefinition::Parse(const QString &text, QString *error)
{
    QString dummy;
    if (!error)
        error = &dummy;
    QHash<QString, QString> values;
    const QStringList lines = text.split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0) {
            *error = QStringLiteral("受众定义中有无法识别的一行：%1").arg(line);
            return std::nullopt;
        }
        // The name is taken as written: blanks around it are part of it.
        const QString key = line.left(eq).trimmed();
        values.insert(key, line.mid(eq + 1));
    }
    AudienceDefinition d;
    if (values.value(QStringLiteral("format"), QStringLiteral("1")).trimmed() != u"1") {
        *error = QStringLiteral("受众定义的格式版本不受支持");
        return std::nullopt;
    }
    if (!values.contains(QStringLiteral("name"))) {
        *error = QStringLiteral("受众定义缺少名称");
        return std::nullopt;
    }
    d.name = values.value(QStringLiteral("name"));
    int vbr = 0;
    if (!readInt(values, QStringLiteral("total_kbps"), 1, 100000, &d.totalKbps, error)
        || !readInt(values, QStringLiteral("video_kbps"), 0, 100000, &d.videoKbps, error)
        || !readInt(values, QStringLiteral("audio_kbps"), 0, 1000, &d.audioKbps, error)
        || !readInt(values, QStringLiteral("audio_channels"), 1, 2, &d.audioChannels, error)
        || !readInt(values, QStringLiteral("audio_rate"), 8000, 96000, &d.audioRate, error)
        || !readInt(values, QStringLiteral("max_fps"), 1, 120, &d.maxFps, error)
        || !readInt(values, QStringLiteral("keyframe_seconds"), 1, 600, &d.keyframeSeconds, error)
        || !readInt(values, QStringLiteral("vbr"), 0, 1, &vbr, error)
        || !readInt(values, QStringLiteral("vbr_qmin"), 1, 31, &d.vbrQmin, error)
        || !readInt(values, QStringLiteral("vbr_qmax"), 1, 31, &d.vbrQmax, error)
        || !readInt(values, QStringLiteral("vbr_peak_kbps"), 0, 200000, &d.vbrPeakKbps, error))
        return std::nullopt;
    d.vbr = vbr == 1;
    if (d.vbrQmin > d.vbrQmax) {
        *error = QStringLiteral("受众定义的 vbr_qmin 大于 vbr_qmax");
        return std::nullopt;
    }
    if (d.totalKbps == 0)
        d.totalKbps = d.videoKbps + d.audioKbps;
    return d;
}

QList<AudienceDefinition> AudienceDefinition::LoadAll(const QString &folder, QStringList *errors)
{
    QList<AudienceDefinition> all;
    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.audience")}, QDir::Files, QDir::Name);
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly)) {
            if (errors)
                *errors << QStringLiteral("无法读取受众定义 %1").arg(f.fileName());
            continue;
        }
        QString error;
        if (auto d = Parse(QString::fromUtf8(f.readAll()), &error))
            all << *d;
        else if (errors)
            *errors << f.fileName() + QStringLiteral("：") + error;
    }
    return all;
}

std::optional<AudienceDefinition> AudienceDefinition::Find(const QString &folder, const QString &name, QString *error)
{
    if (!QDir(folder).exists()) {
        if (error)
            *error = QStringLiteral("找不到受众定义文件夹 %1").arg(folder);
        return std::nullopt;
    }
    const QList<AudienceDefinition> all = LoadAll(folder, nullptr);
    for (const AudienceDefinition &d : all) {
        if (d.name == name)
            return d;
    }
    if (error)
        *error = QStringLiteral("未知的压缩率（受众）“%1”：在 %2 中没有它的定义").arg(name, folder);
    return std::nullopt;
}

} // namespace corva
