#include "engine/Transcoder.h"

#include "engine/AvText.h"
#include "engine/CookAudioEncoder.h"
#include "engine/EncodePlan.h"
#include "engine/FrameQueue.h"
#include "engine/ProducerOptions.h"
#include "engine/RmOutput.h"
#include "engine/Rv40VideoEncoder.h"
#include "engine/SourceCompleteness.h"
#include "engine/SourceProbe.h"
#include "engine/SourceReader.h"
#include "engine/SubtitleBurn.h"
#include "engine/TitleSet.h"
#include "platform/PathKind.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

namespace corva {

namespace {

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

// A B-picture between each two references, but for the quickest effort, which stays plain.
int bPicturesFor(CodecEffort codec)
{
    return codec == CodecEffort::Rv8 ? 0 : (codec == CodecEffort::Rv10 ? 2 : 1);
}

rv40::Effort effortFor(CodecEffort codec)
{
    switch (codec) {
    case CodecEffort::Rv8:
        return rv40::Effort::Quickest;
    case CodecEffort::Rv9:
        break;
    case CodecEffort::Rv10:
        return rv40::Effort::Thorough;
    }
    return rv40::Effort::Quick;
}

// Each picture is coded in as many bands as there are cores, up to four: beyond that a band's
// extra slice costs more than the time saved on a standard-definition picture.
int encoderThreads()
{
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 4);
}

class Job
{
public:
    Job(const JobSettings &job, const AudienceDefinition &audience, const QString &input, const QString &output,
        std::stop_token stop, const Transcoder::ProgressFn &progress)
        : m_job(job), m_audience(audience), m_input(input), m_output(output), m_stop(std::move(stop)), m_progress(progress)
    {
    }

    QString Run();

private:
    QString Check();
    QString Probe();
    QString RunPass(int pass);
    Rv40VideoEncoder::Settings VideoSettings(bool measuring) const;

    bool stopped() const { return m_stop.stop_requested(); }

    const JobSettings &m_job;
    const AudienceDefinition &m_audience;
    const QString m_input;
    const QString m_output;
    const QStringList m_pieces{TitleSet::Pieces(m_input)};
    const std::stop_token m_stop;
    const Transcoder::ProgressFn &m_progress;

    Source m_probe;
    SubtitleBurn m_subtitles;
    EncodePlan m_plan;
    int64_t m_inputSize = 0;
    // What the measuring first pass found, picture by picture, for the second.
    std::vector<PassRecord> m_firstPass;
    // Where the output is written until it is complete; made when the last pass opens it.
    std::unique_ptr<RmOutput> m_out;
};

QString Job::Check()
{
    // Every piece of a DVD title is a source of its own right.
    for (const QString &piece : m_pieces) {
        const QFileInfo in(piece);
        if (!in.exists())
            return QStringLiteral("找不到输入文件 %1").arg(piece);
        if (in.isDir())
            return QStringLiteral("输入 %1 是一个文件夹，不是影音文件").arg(piece);
        // A pipe or a device never ends, or ends somewhere unknown: no source for a job.
        if (const std::string notAFile = PathKind::NotAFile(fsPath(piece), PathKind::Of(fsPath(piece))); !notAFile.empty())
            return QStringLiteral("输入%1，无法压缩").arg(QString::fromUtf8(notAFile));
        if (in.size() == 0)
            return QStringLiteral("输入文件 %1 是空文件").arg(piece);
    }
    if (const QString problem = ProducerOptions::TextsProblem(m_job); !problem.isEmpty())
        return problem;

    const QFileInfo out(m_output);
    const QFileInfo folder(out.absolutePath());
    if (!folder.exists())
        return QStringLiteral("输出文件夹 %1 不存在").arg(QDir::toNativeSeparators(out.absolutePath()));
    if (!folder.isDir())
        return QStringLiteral("输出位置 %1 不是文件夹").arg(QDir::toNativeSeparators(out.absolutePath()));
    if (out.isDir())
        return QStringLiteral("输出路径 %1 是一个文件夹，请给出文件名").arg(m_output);
    // Only a regular file the job made ever takes the output's place: a pipe or a device
    // there (a system's /dev/null) stays as it is.
    if (const std::string notAFile = PathKind::NotAFile(fsPath(m_output), PathKind::Of(fsPath(m_output))); !notAFile.empty())
        return QStringLiteral("输出路径%1，不能用压缩结果替换它").arg(QString::fromUtf8(notAFile));
    if (out.exists()) {
        // Same file by identity: another spelling, a link or a hard link of the input.
        for (const QString &piece : m_pieces) {
            std::error_code error;
            if (std::filesystem::equivalent(fsPath(piece), fsPath(m_output), error))
                return QStringLiteral("输出文件 %1 就是输入文件本身，请换一个输出文件名").arg(m_output);
        }
    }
    return {};
}

QString Job::Probe()
{
    if (QString error = SourceProbe::Open(m_input, m_stop, &m_probe); !error.isEmpty())
        return error;
    // Some demuxers read a cut-off file to its end without a word; its header knows better.
    for (const QString &piece : m_pieces) {
        if (const auto shortfall = SourceCompleteness::Check(piece))
            return SourceCompleteness::Reason(piece, *shortfall);
    }
    if (m_probe.videoIndex < 0 && m_probe.audioIndex < 0) {
        QStringList found;
        for (unsigned i = 0; i < m_probe.format->nb_streams; ++i) {
            const AVCodecParameters *par = m_probe.format->streams[i]->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_VIDEO || par->codec_type == AVMEDIA_TYPE_AUDIO)
                found << QString::fromUtf8(avcodec_get_name(par->codec_id));
        }
        if (!found.isEmpty())
            return QStringLiteral("输入文件 %1 中的编码格式（%2）无法解码").arg(m_input, found.join(u'、'));
        return QStringLiteral("输入文件 %1 中没有可以压缩的视频或音频").arg(m_input);
    }
    if (m_job.audioOnly && m_probe.audioIndex < 0)
        return QStringLiteral("输入文件 %1 中没有音频，无法只压缩音频").arg(m_input);
    // Subtitles are checked before anything is written, and only where there is a picture to carry them.
    if (m_probe.videoIndex >= 0 && !m_job.audioOnly) {
        QString missing;
        const QString subtitles = SubtitleBurn::Find(m_job, m_input, &missing);
        if (!missing.isEmpty())
            return missing;
        if (!subtitles.isEmpty()) {
            if (QString problem = m_subtitles.Prepare(subtitles); !problem.isEmpty())
                return problem;
        }
    }
    m_plan = EncodePlan::Make(m_job, m_audience, m_probe.info, &m_subtitles);
    for (const QString &piece : m_pieces)
        m_inputSize += QFileInfo(piece).size();
    return {};
}

Rv40VideoEncoder::Settings Job::VideoSettings(bool measuring) const
{
    const EncodePlan::Video &v = m_plan.video;
    Rv40VideoEncoder::Settings s;
    s.width = v.width;
    s.height = v.height;
    s.frameRate = v.frameRate;
    s.effort = effortFor(m_job.codec);
    s.keyframeInterval = v.gopSize;
    s.lateKeyframe = v.lateKeyframe;
    s.measuring = measuring;
    s.threads = encoderThreads();
    s.bPictures = bPicturesFor(m_job.codec);
    s.rate.bitRate = double(v.bitRate);
    s.rate.frameRate = av_q2d(v.frameRate);
    s.rate.variableRate = v.variableRate;
    s.rate.peakRate = double(v.maxRate);
    s.rate.qmin = v.qmin;
    s.rate.qmax = v.qmax;
    s.rate.width = v.width;
    s.rate.height = v.height;
    return s;
}

QString Job::RunPass(int pass)
{
    const bool finalPass = pass == m_plan.passes;
    const bool useVideo = m_plan.video.enabled;
    const bool useAudio = m_plan.audio.enabled && finalPass;

    Source source;
    if (pass == 1) {
        // The probe already opened the file once; reuse it.
        source = std::move(m_probe);
    } else if (QString error = SourceProbe::Open(m_input, m_stop, &source); !error.isEmpty()) {
        return error;
    }
    AVFormatContext *format = source.format.get();
    SourceReader reader(m_input, source.info.frameRate, m_stop);

    Lane video;
    Lane audio;
    video.kind = FrameQueue::Kind::Video;
    audio.kind = FrameQueue::Kind::Audio;
    if (useVideo) {
        video.index = source.videoIndex;
        video.filters = m_plan.video.filters;
    }
    if (useAudio) {
        audio.index = source.audioIndex;
        audio.filters = m_plan.audio.filters;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const int index = static_cast<int>(i);
        format->streams[i]->discard = index == video.index || index == audio.index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    for (Lane *lane : {&video, &audio}) {
        if (!lane->active())
            continue;
        lane->stream = format->streams[lane->index];
        lane->startOffset = av_rescale_q(source.startTime, AV_TIME_BASE_Q, lane->stream->time_base);
        if (QString error = reader.OpenDecoder(*lane, lane == &video); !error.isEmpty())
            return error;
    }

    std::optional<Rv40VideoEncoder> videoEncoder;
    std::optional<CookAudioEncoder> audioEncoder;
    const bool measuring = m_plan.passes == 2 && !finalPass;
    if (useVideo) {
        try {
            videoEncoder.emplace(VideoSettings(measuring));
        } catch (const std::exception &) {
            return QStringLiteral("无法以 %1x%2 的画面压缩 RealVideo").arg(m_plan.video.width).arg(m_plan.video.height);
        }
        if (finalPass && !m_firstPass.empty())
            videoEncoder->SetFirstPass(std::move(m_firstPass));
        video.encoderTimeBase = av_inv_q(m_plan.video.frameRate);
    }
    if (useAudio) {
        audioEncoder.emplace();
        if (QString error = audioEncoder->Open(m_plan.audio.cookFlavour); !error.isEmpty())
            return error;
        audio.encoderTimeBase = audioEncoder->TimeBase();
        audio.frameSize = audioEncoder->FrameSize();
    }
    if (finalPass) {
        std::optional<rmff::MuxVideo> muxVideo;
        std::optional<rmff::MuxAudio> muxAudio;
        if (useVideo) {
            rmff::MuxVideo v;
            v.fourcc = rmff::FourCc(rv40::kFourcc);
            v.width = static_cast<std::uint16_t>(m_plan.video.width);
            v.height = static_cast<std::uint16_t>(m_plan.video.height);
            v.framesPerSecond = static_cast<std::uint32_t>(std::lround(av_q2d(m_plan.video.frameRate) * 65536.0));
            v.codecSetup = rv40::CodecSetupBytes();
            muxVideo = v;
        }
        if (useAudio) {
            rmff::MuxAudio a;
            a.sampleRate = static_cast<std::uint32_t>(m_plan.audio.sampleRate);
            a.channels = static_cast<std::uint16_t>(m_plan.audio.channels);
            a.bitRate = static_cast<std::uint32_t>(m_plan.audio.bitRate);
            const cook::Flavour &f = audioEncoder->Flavour();
            rmff::CookSetupFields c;
            c.flavour = static_cast<std::uint16_t>(f.index);
            c.sampleRate = static_cast<std::uint32_t>(f.sampleRate);
            c.channels = static_cast<std::uint16_t>(f.channels);
            c.frameSamples = static_cast<std::uint32_t>(f.frameSamples);
            c.frameBytes = static_cast<std::uint16_t>(f.frameBytes);
            c.framesPerPacket = static_cast<std::uint16_t>(f.framesPerPacket);
            c.packetsPerBlock = static_cast<std::uint16_t>(f.packetsPerBlock);
            c.codecSetup = f.SetupBytes();
            a.cook = std::move(c);
            muxAudio = a;
        }
        m_out = std::make_unique<RmOutput>(m_output);
        if (QString error = m_out->Open(muxVideo, muxAudio, m_job); !error.isEmpty())
            return error;
    }

    // About a second of pictures in flight is enough to keep both threads busy.
    FrameQueue queue(32);
    // Whatever leaves the reading thread's body becomes the pass's failure; it must never
    // reach std::terminate.
    std::thread readerThread([&] {
        try {
            reader.ReadAll(format, video, audio, queue);
        } catch (const std::exception &e) {
            reader.ReadFailed(QStringLiteral("读取输入文件 %1 时出现内部错误：%2").arg(m_input, QString::fromLocal8Bit(e.what())));
            queue.Close();
        } catch (...) {
            reader.ReadFailed(QStringLiteral("读取输入文件 %1 时出现内部错误").arg(m_input));
            queue.Close();
        }
    });
    // Joined on every way out of this function, exceptions included.
    struct JoinReader
    {
        FrameQueue &queue;
        std::thread &thread;
        ~JoinReader()
        {
            if (thread.joinable()) {
                queue.Close();
                thread.join();
            }
        }
    } joinReader{queue, readerThread};

    QString writeError;
    const auto writeAudio = [&](std::span<const std::uint8_t> bytes, std::uint32_t ms) -> QString {
        return m_out ? m_out->WriteAudio(bytes, ms) : QString();
    };
    // frame null: the end, where pictures held back for their later reference come out
    const auto encodeVideo = [&](const AVFrame *frame) -> QString {
        std::vector<Rv40VideoEncoder::Picture> pictures;
        try {
            pictures = frame ? videoEncoder->Encode(*frame) : videoEncoder->Flush();
        } catch (const std::exception &e) {
            return QStringLiteral("压缩 %1 的画面时出错：%2").arg(m_input, QString::fromLocal8Bit(e.what()));
        }
        for (const Rv40VideoEncoder::Picture &picture : pictures) {
            if (!m_out)
                break;
            if (QString error = m_out->WriteVideo(picture.slices, picture.timestampMs, picture.keyframe); !error.isEmpty())
                return error;
        }
        return {};
    };

    const FrameQueue::Kind leading = useVideo ? FrameQueue::Kind::Video : FrameQueue::Kind::Audio;
    double reached = 0;
    bool ended = false;
    while (auto item = queue.Pop(m_stop)) {
        if (item->kind == FrameQueue::Kind::End) {
            ended = true;
            break;
        }
        AVFrame *frame = item->frame.get();
        const bool isVideo = item->kind == FrameQueue::Kind::Video;
        writeError = isVideo ? encodeVideo(frame) : audioEncoder->Encode(frame, writeAudio);
        if (!writeError.isEmpty())
            break;
        if (item->kind == leading && frame->pts != AV_NOPTS_VALUE) {
            const double length = isVideo ? 1.0 : frame->nb_samples;
            const AVRational tb = isVideo ? video.encoderTimeBase : audio.encoderTimeBase;
            reached = std::max(reached, (static_cast<double>(frame->pts) + length) * av_q2d(tb));
            const double duration = m_probe.duration;
            Transcoder::Status status{pass, m_plan.passes, reached, duration, 0};
            if (duration > 0)
                status.fraction = std::min(1.0, reached / duration);
            else if (m_inputSize > 0)
                status.fraction = std::min(1.0, static_cast<double>(reader.BytesRead()) / static_cast<double>(m_inputSize));
            m_progress(status);
        }
    }
    if (!ended)
        queue.Close();
    readerThread.join();

    if (stopped())
        return AvText::Cancelled();
    if (QString error = reader.Error(); !error.isEmpty())
        return error;
    if (!writeError.isEmpty())
        return writeError;
    if (!ended)
        return QStringLiteral("压缩 %1 时意外中断").arg(m_input);

    if (videoEncoder) {
        if (QString error = encodeVideo(nullptr); !error.isEmpty())
            return error;
    }
    if (audioEncoder) {
        if (QString error = audioEncoder->Encode(nullptr, writeAudio); !error.isEmpty())
            return error;
        if (m_out)
            m_out->SetAudioEnd(audioEncoder->EndMs());
    }

    // A file that stops well before the length its header promises was cut off.
    const double read = reader.SecondsRead();
    if (source.durationReliable && source.duration > 0 && read < source.duration - std::max(2.0, source.duration * 0.1))
        return QStringLiteral("输入文件 %1 不完整：只能读到 %2 秒，而它应有 %3 秒")
            .arg(m_input)
            .arg(read, 0, 'f', 1)
            .arg(source.duration, 0, 'f', 1);
    if (read <= 0)
        return QStringLiteral("输入文件 %1 中没有能解码的画面或声音").arg(m_input);

    if (measuring && videoEncoder)
        m_firstPass = videoEncoder->Records();
    if (m_out) {
        if (QString error = m_out->Finish(); !error.isEmpty())
            return error;
    }
    const double duration = m_probe.duration > 0 ? m_probe.duration : reached;
    m_progress(Transcoder::Status{pass, m_plan.passes, duration, duration, 1.0});
    return {};
}

QString Job::Run()
{
    if (QString error = Check(); !error.isEmpty())
        return error;
    if (QString error = Probe(); !error.isEmpty())
        return error;
    for (int pass = 1; pass <= m_plan.passes; ++pass) {
        QString error = RunPass(pass);
        if (!error.isEmpty()) {
            if (m_out)
                m_out->Discard();
            return error;
        }
    }
    if (!m_out)
        return QStringLiteral("无法把压缩好的文件保存为 %1").arg(m_output);
    return m_out->Commit();
}

} // namespace

Transcoder::Transcoder(const JobSettings &job, const AudienceDefinition &audience, const QString &input, const QString &output)
    : m_job(job), m_audience(audience), m_input(input), m_output(output)
{
}

QString Transcoder::Run(std::stop_token stop, const ProgressFn &progress)
{
    // The temporary output goes with the job, whatever ends it.
    try {
        Job job(m_job, m_audience, m_input, m_output, std::move(stop), progress);
        return job.Run();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("内存不足，无法压缩 %1").arg(m_input);
    } catch (const std::exception &e) {
        return QStringLiteral("压缩 %1 时出现内部错误：%2").arg(m_input, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return QStringLiteral("压缩 %1 时出现内部错误").arg(m_input);
    }
}

} // namespace corva
