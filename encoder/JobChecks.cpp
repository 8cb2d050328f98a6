#include "encoder/JobChecks.h"

#include "platform/OpticalDrives.h"
#include "platform/PathKind.h"

#include <QFile>
#include <QLocale>

#include <cmath>
#include <filesystem>

namespace corva {

JobChecks::Verdict JobChecks::CheckPaths(const EncoderOptions &o, const platform::OpticalDrives &drives)
{
    if (o.outputFile == o.inputFile)
        return Verdict::SamePath;
    if (o.outputFile.trimmed().isEmpty() || o.inputFile.trimmed().isEmpty())
        return Verdict::EmptyPath;
    if (drives.IsOnOpticalDrive(o.outputFile.toStdString()))
        return Verdict::OpticalOutput;
    return Verdict::Pass;
}

QString JobChecks::SourceKindProblem(const QString &inputFile)
{
#ifdef _WIN32
    const std::filesystem::path path(inputFile.toStdWString());
#else
    const std::filesystem::path path(QFile::encodeName(inputFile).toStdString());
#endif
    // Links are followed: what counts is what the tool would read.
    const PathKind::Kind kind = PathKind::Of(path);
    if (!PathKind::IsSpecial(kind))
        return {};
    return QStringLiteral("源文件“%1”是%2，不是普通文件，无法压缩。请选择一个视频或音频文件。")
        .arg(inputFile, QString::fromUtf8(PathKind::Text(kind)));
}

bool JobChecks::IsKnownFormat(const QString &inputFile, const QString &inputFilter)
{
    return inputFilter.contains(inputFile.right(3), Qt::CaseSensitive);
}

bool JobChecks::ToInt16(const QString &text, int *value)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        return false;
    // Converting to a 16-bit integer rounds to the nearest, halves to even.
    const double rounded = std::nearbyint(v);
    if (rounded < -32768 || rounded > 32767)
        return false;
    *value = static_cast<int>(rounded);
    return true;
}

bool JobChecks::SizeIsValid(const QString &width, const QString &height)
{
    int w = 0;
    int h = 0;
    return ToInt16(width, &w) && ToInt16(height, &h) && w >= 0 && h >= 0;
}

QString JobChecks::Message(Verdict verdict)
{
    switch (verdict) {
    case Verdict::SamePath:
        return QStringLiteral("输出的影片文件名和输入的文件名不能相同！");
    case Verdict::EmptyPath:
        return QStringLiteral("输入或输出路径为空，请填写！");
    case Verdict::OpticalOutput:
        return QStringLiteral("发现您的输出路径是光驱，请修改！");
    case Verdict::UnknownFormat:
        return QStringLiteral("输入的文件格式不能保证正确压缩，继续吗？");
    case Verdict::BadSize:
        return QStringLiteral("输入的影片长宽有误，请参考帮助文档！");
    case Verdict::Pass:
        break;
    }
    return {};
}

} // namespace corva
