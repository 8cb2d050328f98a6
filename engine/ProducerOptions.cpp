#include "engine/ProducerOptions.h"

#include "common/CommandLine.h"
#include "common/Gbk.h"
#include "engine/SettingWords.h"

#include <QSet>

namespace corva {

ProducerOptions ProducerOptions::Parse(const QStringList &arguments)
{
    ProducerOptions options;
    JobSettings &job = options.m_settings;

    // The -cj path first, so that it is known even when a later switch is refused.
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == u"-cj")
            options.m_jobPath = arguments[i + 1];
    }

    const auto fail = [&](const QString &why) {
        options.m_error = why;
        return options;
    };
    static const QSet<QString> valued = {
        QStringLiteral("-i"), QStringLiteral("-o"), QStringLiteral("-t"), QStringLiteral("-a"),
        QStringLiteral("-c"), QStringLiteral("-ad"), QStringLiteral("-vm"), QStringLiteral("-am"),
        QStringLiteral("-arq"), QStringLiteral("-nf"), QStringLiteral("-ag"), QStringLiteral("-rs"),
        QStringLiteral("-rq"), QStringLiteral("-vco"), QStringLiteral("-cj"), QStringLiteral("-sub")};
    static const QSet<QString> bare = {
        QStringLiteral("-dt"), QStringLiteral("-dv"), QStringLiteral("-bl")};

    QSet<QString> seen;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &name = arguments[i];
        if (!valued.contains(name) && !bare.contains(name))
            return fail(QStringLiteral("未知的开关或多余的参数：%1").arg(name));
        if (seen.contains(name))
            return fail(QStringLiteral("开关 %1 重复出现").arg(name));
        seen.insert(name);
        if (bare.contains(name)) {
            if (name == u"-dt")
                job.singlePass = true;
            else if (name == u"-dv")
                job.audioOnly = true;
            else
                job.brighten = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return fail(QStringLiteral("开关 %1 缺少取值").arg(name));
        const QString value = arguments[++i];
        const auto badValue = [&](const QString &allowed) {
            return fail(QStringLiteral("开关 %1 的取值“%2”无效，应为 %3").arg(name, value, allowed));
        };
        if (name == u"-i") {
            job.input = value;
        } else if (name == u"-o") {
            job.output = value;
        } else if (name == u"-t") {
            job.title = value;
        } else if (name == u"-a") {
            job.author = value;
        } else if (name == u"-c") {
            job.copyright = value;
        } else if (name == u"-ad") {
            job.audience = value;
        } else if (name == u"-vm") {
            const auto v = SettingWords::ParseVideoMode(value);
            if (!v)
                return badValue(QStringLiteral("normal、sharp、smooth 或 slideshow"));
            job.videoMode = *v;
        } else if (name == u"-am") {
            const auto v = SettingWords::ParseAudioMode(value);
            if (!v)
                return badValue(QStringLiteral("music 或 voice"));
            job.audioMode = *v;
        } else if (name == u"-arq" || name == u"-rq") {
            const auto v = SettingWords::ParseQuality(value);
            if (!v)
                return badValue(QStringLiteral("fast 或 high"));
            (name == u"-arq" ? job.highResampleQuality : job.highScaleQuality) = *v;
        } else if (name == u"-nf") {
            const auto v = SettingWords::ParseNoiseFilter(value);
            if (!v)
                return badValue(QStringLiteral("None、low 或 high"));
            job.noiseFilter = *v;
        } else if (name == u"-ag") {
            const auto v = SettingWords::ParseGain(value);
            if (!v)
                return badValue(QStringLiteral("-12 到 12 之间的整数"));
            job.gainDb = *v;
        } else if (name == u"-rs") {
            if (!SettingWords::ParseSize(value, &job.resizeWidth, &job.resizeHeight))
                return badValue(QStringLiteral("宽x高，例如 640x0"));
            if (const QString problem = SettingWords::SizeProblem(job.resizeWidth, job.resizeHeight); !problem.isEmpty())
                return fail(QStringLiteral("开关 -rs：%1").arg(problem));
        } else if (name == u"-vco") {
            const auto v = SettingWords::ParseCodec(value);
            if (!v)
                return badValue(QStringLiteral("rv8、rv9 或 rv10"));
            job.codec = *v;
        } else if (name == u"-sub") {
            if (value.isEmpty())
                return fail(QStringLiteral("开关 -sub 的字幕文件路径为空"));
            if (value.compare(u"none", Qt::CaseInsensitive) == 0) {
                job.subtitles = SubtitleChoice::None;
            } else {
                job.subtitles = SubtitleChoice::File;
                job.subtitleFile = value;
            }
        } else if (name == u"-cj") {
            if (value.isEmpty())
                return fail(QStringLiteral("开关 -cj 的任务文件路径为空"));
        }
    }
    if (job.input.isEmpty())
        return fail(QStringLiteral("缺少输入文件（-i）"));
    if (job.output.isEmpty())
        return fail(QStringLiteral("缺少输出文件（-o）"));
    if (!seen.contains(QStringLiteral("-ad")) || job.audience.isEmpty())
        return fail(QStringLiteral("缺少压缩率（-ad）"));
    if (const QString problem = TextsProblem(job); !problem.isEmpty())
        return fail(problem);
    return options;
}

QString ProducerOptions::TextsProblem(const JobSettings &job)
{
    const std::pair<const QString *, QString> texts[] = {
        {&job.title, QStringLiteral("标题（-t）")},
        {&job.author, QStringLiteral("作者（-a）")},
        {&job.copyright, QStringLiteral("版权（-c）")}};
    for (const auto &[text, what] : texts) {
        if (const QString problem = Gbk::TextProblem(*text, what); !problem.isEmpty())
            return problem;
    }
    return {};
}

ProducerOptions ProducerOptions::ParseCommandLine(const QString &commandLine)
{
    QStringList arguments = CommandLine::Split(commandLine);
    if (!arguments.isEmpty())
        arguments.removeFirst();
    return Parse(arguments);
}

} // namespace corva
