#include "encoder/ProducerCommandLine.h"

#include "common/CommandLine.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace corva {

long long ProducerCommandLine::IntegerPart(const QString &text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return 0;
    const double floored = std::floor(value);
    if (floored >= static_cast<double>(std::numeric_limits<long long>::max()))
        return std::numeric_limits<long long>::max();
    if (floored <= static_cast<double>(std::numeric_limits<long long>::min()))
        return std::numeric_limits<long long>::min();
    return static_cast<long long>(floored);
}

QString ProducerCommandLine::BuildCommandLine(const EncoderOptions &o, const QString &appDir,
                                              const QString &separator, const QString &jobFile)
{
    const auto quoted = [](const QString &v) { return CommandLine::QuoteValue(v); };
    QString line = CommandLine::QuotePathIfNeeded(appDir + separator + QStringLiteral("pp")) + u' ';
    line += QStringLiteral("-i ") + quoted(o.inputFile) + u' ';
    line += QStringLiteral("-o ") + quoted(o.outputFile) + u' ';
    line += QStringLiteral("-t ") + quoted(o.title) + u' ';
    line += QStringLiteral("-a ") + quoted(o.author) + u' ';
    line += QStringLiteral("-c ") + quoted(o.copyright) + u' ';
    line += QStringLiteral("-ad ") + quoted(o.audience) + u' ';
    if (o.videoModeIndex != 0)
        line += QStringLiteral("-vm ") + o.videoMode + u' ';
    if (o.audioModeIndex != 0)
        line += QStringLiteral("-am ") + o.audioMode + u' ';
    if (o.singlePass == 1)
        line += QStringLiteral("-dt ");
    if (o.audioOnly == 1)
        line += QStringLiteral("-dv ");
    if (o.resampleIndex != 0)
        line += QStringLiteral("-arq ") + o.resample + u' ';
    if (o.noiseIndex != 0)
        line += QStringLiteral("-nf ") + o.noise + u' ';
    if (o.brightness == 1)
        line += QStringLiteral("-bl ");
    if (o.gainIndex != 2)
        line += QStringLiteral("-ag ") + o.gain + u' ';
    if (IntegerPart(o.width) != 0 || IntegerPart(o.height) != 0)
        line += QStringLiteral("-rs ") + o.width + u'x' + o.height + QStringLiteral(" -rq ") + o.resizeQuality + u' ';
    line += QStringLiteral("-vco ") + o.codec + u' ';
    line += QStringLiteral("-cj ") + CommandLine::QuotePathIfNeeded(jobFile);
    return line;
}

} // namespace corva
