#include "engine/ProducerOptions.h"

#include "common/CommandLine.h"
#include "common/Gbk.h"
#include "engine/SettingWords.h"

#include <QSet>

namespace corva {

namespace {

// The switches whose value is taken as it stands.
struct TextSwitch
{
    const char16_t *name;
    QString JobSettings::*field;
};

constexpr TextSwitch kTextSwitches[] = {{u"-i", &JobSettings::input},   {u"-o", &JobSettings::output},
                                        {u"-t", &JobSettings::title},   {u"-a", &JobSettings::author},
                                        {u"-c", &JobSettings::copyright}, {u"-ad", &JobSettings::audience}};

// The switches whose value is one of a few words: how the word goes into the job, and the words
// allowed, for the message that refuses another.
struct WordSwitch
{
    const char16_t *name;
    bool (*read)(const QString &, JobSettings &);
    const char *allowed;
};

using W = SettingWords;
using J = JobSettings;
constexpr WordSwitch kWordSwitches[] = {
    {u"-vm", W::Read<W::ParseVideoMode, &J::videoMode>, "normal、sharp、smooth 或 slideshow"},
    {u"-am", W::Read<W::ParseAudioMode, &J::audioMode>, "music 或 voice"},
    {u"-arq", W::Read<W::ParseQuality, &J::highResampleQuality>, "fast 或 high"},
    {u"-rq", W::Read<W::ParseQuality, &J::highScaleQuality>, "fast 或 high"},
    {u"-nf", W::Read<W::ParseNoiseFilter, &J::noiseFilter>, "None、low 或 high"},
    {u"-ag", W::Read<W::ParseGain, &J::gainDb>, "-12 到 12 之间的整数"},
    {u"-vco", W::Read<W::ParseCodec, &J::codec>, "rv8、rv9 或 rv10"},
};

template <typename Switch, std::size_t N>
const Switch *find(const Switch (&switches)[N], const QString &name)
{
    for (const Switch &s : switches)
        if (name == QStringView(s.name))
            return &s;
    return nullptr;
}

} // namespace

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
        if (const TextSwitch *text = find(kTextSwitches, name)) {
            job.*text->field = value;
        } else if (const WordSwitch *word = find(kWordSwitches, name)) {
            if (!word->read(value, job))
                return badValue(QString::fromUtf8(word->allowed));
        } else if (name == u"-rs") {
            if (!SettingWords::ParseSize(value, &job.resizeWidth, &job.resizeHeight))
                return badValue(QStringLiteral("宽x高，例如 640x0"));
            if (const QString problem = SettingWords::SizeProblem(job.resizeWidth, job.resizeHeight); !problem.isEmpty())
                return fail(QStringLiteral("开关 -rs：%1").arg(problem));
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
