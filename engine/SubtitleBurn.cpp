#include "engine/SubtitleBurn.h"

#include "engine/AvText.h"
#include "engine/FfmpegOwners.h"
#include "platform/PathKind.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace corva {

namespace {

// The renderer's own frame for text subtitles converted to its script: 288 lines high.
constexpr double kScriptHeight = 288;

struct SubtitleDeleter
{
    void operator()(AVSubtitle *s) const
    {
        avsubtitle_free(s);
        delete s;
    }
};

} // namespace

QString SubtitleBurn::Find(const JobSettings &job, const QString &input, QString *error)
{
    if (job.subtitles == SubtitleChoice::None)
        return {};
    if (job.subtitles == SubtitleChoice::File) {
        if (const QString problem = FileProblem(job.subtitleFile); !problem.isEmpty()) {
            if (error)
                *error = problem;
            return {};
        }
        return job.subtitleFile;
    }
    const QFileInfo in(input);
    const QString base = in.completeBaseName();
    const QStringList names = in.dir().entryList(QDir::Files | QDir::Readable | QDir::Hidden);
    for (const char *suffix : {"srt", "ass", "ssa"}) {
        const QString wanted = base + u'.' + QLatin1String(suffix);
        for (const QString &name : names) {
            if (name.compare(wanted, Qt::CaseInsensitive) == 0)
                return in.dir().filePath(name);
        }
    }
    return {};
}

QString SubtitleBurn::FileProblem(const QString &path)
{
    const PathKind::Kind kind = PathKind::Of(std::filesystem::path(path.toStdU16String()));
    if (kind == PathKind::Kind::Missing)
        return QStringLiteral("找不到字幕文件 %1").arg(path);
    // Reading a pipe would wait for a writer for ever; a device never ends.
    if (kind != PathKind::Kind::Regular && kind != PathKind::Kind::Unknown)
        return QStringLiteral("字幕文件 %1 是%2，不是普通文件，无法读取").arg(path, QString::fromUtf8(PathKind::Text(kind)));
    return {};
}

QString SubtitleBurn::Prepare(const QString &path)
{
    m_copy.reset();
    if (const QString problem = FileProblem(path); !problem.isEmpty())
        return problem;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("无法读取字幕文件 %1：%2").arg(path, AvText::FileReason(file));
    if (file.size() > kMaxFileBytes)
        return QStringLiteral("字幕文件 %1 太大（超过 32 MB），不像是字幕").arg(path);
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty())
        return QStringLiteral("字幕文件 %1 是空的").arg(path);
    const SubtitleText::Decoded decoded = SubtitleText::Decode(bytes);
    if (decoded.encoding == SubtitleText::Encoding::None)
        return QStringLiteral("字幕文件 %1 不是可识别的文本（只接受 UTF-8、UTF-16、GBK 或 BIG5 编码的 .srt、.ass、.ssa 字幕）")
            .arg(path);

    // The renderer reads UTF-8 from a file; the copy is ours, made exclusively and removed with the job.
    const QString suffix = QFileInfo(path).suffix().toLower();
    auto copy = std::make_unique<QTemporaryFile>(
        QDir::temp().filePath(QStringLiteral("corva-subtitles-XXXXXX.%1").arg(suffix.isEmpty() ? QStringLiteral("txt") : suffix)));
    if (!copy->open())
        return QStringLiteral("无法准备字幕 %1：%2").arg(path, AvText::FileReason(*copy));
    const QByteArray utf8 = decoded.text.toUtf8();
    if (copy->write(utf8) != utf8.size() || !copy->flush())
        return QStringLiteral("无法准备字幕 %1：%2").arg(path, AvText::FileReason(*copy));
    m_copy = std::move(copy);
    m_encoding = decoded.encoding;
    if (QString problem = Check(path); !problem.isEmpty()) {
        m_copy.reset();
        return problem;
    }
    return {};
}

QString SubtitleBurn::Check(const QString &path)
{
    const QString unreadable = QStringLiteral("无法解析字幕文件 %1：它不是 .srt、.ass 或 .ssa 格式的字幕").arg(path);
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(m_copy->fileName()).constData(), nullptr, nullptr) < 0)
        return unreadable;
    InputFormatPtr format(context);
    if (avformat_find_stream_info(context, nullptr) < 0 || context->nb_streams != 1)
        return unreadable;
    const AVCodecParameters *par = context->streams[0]->codecpar;
    const AVCodecDescriptor *descriptor = avcodec_descriptor_get(par->codec_id);
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (par->codec_type != AVMEDIA_TYPE_SUBTITLE || !descriptor || !(descriptor->props & AV_CODEC_PROP_TEXT_SUB) || !codec)
        return unreadable;
    m_styled = par->codec_id == AV_CODEC_ID_ASS || par->codec_id == AV_CODEC_ID_SSA;

    CodecContextPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), par) < 0 || avcodec_open2(decoder.get(), codec, nullptr) < 0)
        return unreadable;
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        return QStringLiteral("内存不足，无法读取字幕文件 %1").arg(path);
    m_events = 0;
    int r = 0;
    while ((r = av_read_frame(context, packet.get())) >= 0) {
        std::unique_ptr<AVSubtitle, SubtitleDeleter> subtitle(new AVSubtitle{});
        int got = 0;
        if (avcodec_decode_subtitle2(decoder.get(), subtitle.get(), &got, packet.get()) >= 0 && got && subtitle->num_rects > 0)
            ++m_events;
        av_packet_unref(packet.get());
    }
    if (r != AVERROR_EOF)
        return QStringLiteral("读取字幕文件 %1 时出错：%2").arg(path, AvText::Reason(r));
    if (m_events == 0)
        return QStringLiteral("字幕文件 %1 中没有能读出的字幕").arg(path);
    return {};
}

QString SubtitleBurn::Filter(int width, int height) const
{
    if (!m_copy)
        return {};
    QString filter = QStringLiteral("subtitles=filename=%1:original_size=%2x%3")
                         .arg(QuoteForGraph(QDir::toNativeSeparators(m_copy->fileName())))
                         .arg(width)
                         .arg(height);
    if (!m_styled) {
        // Plain subtitles in a CJK face, about a fourteenth of the picture high but never below
        // what a Chinese character needs to stay legible.
        const double pixels = std::clamp(std::round(height * 0.07), 16.0, 56.0);
        const double size = pixels * kScriptHeight / height;
        filter += QStringLiteral(":force_style=%1")
                      .arg(QuoteForGraph(QStringLiteral("FontName=WenQuanYi Zen Hei,FontSize=%1,Outline=1.2,Shadow=0.6,MarginV=10")
                                             .arg(size, 0, 'f', 1)));
    }
    return filter;
}

QString SubtitleBurn::QuoteForGraph(const QString &value)
{
    // First the option parser's quoting, then the graph's escapes over the result.
    QString quoted = u'\'' + QString(value).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
    QString escaped;
    escaped.reserve(quoted.size() * 2);
    for (const QChar c : quoted) {
        if (c == u'\\' || c == u'\'' || c == u'[' || c == u']' || c == u',' || c == u';')
            escaped += u'\\';
        escaped += c;
    }
    return escaped;
}

} // namespace corva
