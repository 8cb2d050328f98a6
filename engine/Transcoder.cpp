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

// What one pass holds while it runs: the source, its lanes from decoder to filter chain, and
// the encoders.
struct Pass
{
    int number = 1;
    bool last = true;      // the pass that writes the output
    bool measuring = false; // a first pass of two, which only measures
    Source source;
    std::optional<SourceReader> reader;
    Lane video;
    Lane audio;
    std::optional<Rv40VideoEncoder> videoEncoder;
    std::optional<CookAudioEncoder> audioEncoder;
    double reached = 0; // media seconds the encoders have reached
};

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
    QString OpenLanes(Pass &pass);
    QString OpenEncoders(Pass &pass);
    QString OpenOutput(Pass &pass);
    QString Pump(Pass &pass);
    QString Finish(Pass &pass);
    // A picture through the encoder to the output; `frame` null at the end, where the pictures
    // held back for their later reference come out.
    QString EncodeVideo(Pass &pass, const AVFrame *frame);
    // Sound through the encoder to the output; `frame` null at the end.
    QString EncodeAudio(Pass &pass, const AVFrame *frame);
    void Report(Pass &pass, const FrameQueue::Item &item);

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

QString Job::RunPass(int number)
{
    Pass pass;
    pass.number = number;
    pass.last = number == m_plan.passes;
    pass.measuring = m_plan.passes == 2 && !pass.last;
    if (number == 1) {
        // The probe already opened the file once; reuse it.
        pass.source = std::move(m_probe);
    } else if (QString error = SourceProbe::Open(m_input, m_stop, &pass.source); !error.isEmpty()) {
        return error;
    }
    // each step only once the one before it went well
    for (QString (Job::*step)(Pass &) : {&Job::OpenLanes, &Job::OpenEncoders, &Job::OpenOutput, &Job::Pump, &Job::Finish}) {
        if (QString error = (this->*step)(pass); !error.isEmpty())
            return error;
    }
    return {};
}

QString Job::OpenLanes(Pass &pass)
{
    AVFormatContext *format = pass.source.format.get();
    pass.reader.emplace(m_input, pass.source.info.frameRate, m_stop);
    pass.video.kind = FrameQueue::Kind::Video;
    pass.audio.kind = FrameQueue::Kind::Audio;
    if (m_plan.video.enabled) {
        pass.video.index = pass.source.videoIndex;
        pass.video.filters = m_plan.video.filters;
    }
    // The sound is encoded by the pass that writes the output only.
    if (m_plan.audio.enabled && pass.last) {
        pass.audio.index = pass.source.audioIndex;
        pass.audio.filters = m_plan.audio.filters;
    }
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const int index = static_cast<int>(i);
        format->streams[i]->discard = index == pass.video.index || index == pass.audio.index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    for (Lane *lane : {&pass.video, &pass.audio}) {
        if (!lane->active())
            continue;
        lane->stream = format->streams[lane->index];
        lane->startOffset = av_rescale_q(pass.source.startTime, AV_TIME_BASE_Q, lane->stream->time_base);
        if (QString error = pass.reader->OpenDecoder(*lane, lane == &pass.video); !error.isEmpty())
            return error;
    }
    return {};
}

QString Job::OpenEncoders(Pass &pass)
{
    if (m_plan.video.enabled) {
        try {
            pass.videoEncoder.emplace(m_plan.video, pass.measuring);
        } catch (const std::exception &) {
            return QStringLiteral("无法以 %1x%2 的画面压缩 RealVideo").arg(m_plan.video.width).arg(m_plan.video.height);
        }
        if (pass.last && !m_firstPass.empty())
            pass.videoEncoder->SetFirstPass(std::move(m_firstPass));
        pass.video.encoderTimeBase = av_inv_q(m_plan.video.frameRate);
    }
    if (m_plan.audio.enabled && pass.last) {
        pass.audioEncoder.emplace();
        if (QString error = pass.audioEncoder->Open(m_plan.audio.cookFlavour); !error.isEmpty())
            return error;
        pass.audio.encoderTimeBase = pass.audioEncoder->TimeBase();
        pass.audio.frameSize = pass.audioEncoder->FrameSize();
    }
    return {};
}

QString Job::OpenOutput(Pass &pass)
{
    if (!pass.last)
        return {};
    std::optional<rmff::MuxVideo> muxVideo;
    std::optional<rmff::MuxAudio> muxAudio;
    if (pass.videoEncoder) {
        rmff::MuxVideo v;
        const std::unique_ptr<rv40::Bitstream> format = Rv40VideoEncoder::BitstreamFor(m_plan.video);
        v.fourcc = rmff::FourCc(format->Fourcc());
        v.width = static_cast<std::uint16_t>(m_plan.video.width);
        v.height = static_cast<std::uint16_t>(m_plan.video.height);
        v.framesPerSecond = static_cast<std::uint32_t>(std::lround(av_q2d(m_plan.video.frameRate) * 65536.0));
        v.codecSetup = format->SetupBytes();
        muxVideo = v;
    }
    if (pass.audioEncoder) {
        rmff::MuxAudio a;
        a.sampleRate = static_cast<std::uint32_t>(m_plan.audio.sampleRate);
        a.channels = static_cast<std::uint16_t>(m_plan.audio.channels);
        a.bitRate = static_cast<std::uint32_t>(m_plan.audio.bitRate);
        const cook::Flavour &f = pass.audioEncoder->Flavour();
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
    return m_out->Open(muxVideo, muxAudio, m_job);
}

QString Job::EncodeAudio(Pass &pass, const AVFrame *frame)
{
    return pass.audioEncoder->Encode(frame, [this](std::span<const std::uint8_t> bytes, std::uint32_t ms) {
        return m_out ? m_out->WriteAudio(bytes, ms) : QString();
    });
}

QString Job::EncodeVideo(Pass &pass, const AVFrame *frame)
{
    std::vector<Rv40VideoEncoder::Picture> pictures;
    try {
        pictures = frame ? pass.videoEncoder->Encode(*frame) : pass.videoEncoder->Flush();
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
}

void Job::Report(Pass &pass, const FrameQueue::Item &item)
{
    // Progress follows the picture where there is one, else the sound.
    const FrameQueue::Kind leading = pass.videoEncoder ? FrameQueue::Kind::Video : FrameQueue::Kind::Audio;
    const AVFrame *frame = item.frame.get();
    if (item.kind != leading || frame->pts == AV_NOPTS_VALUE)
        return;
    const bool isVideo = item.kind == FrameQueue::Kind::Video;
    const double length = isVideo ? 1.0 : frame->nb_samples;
    const AVRational tb = isVideo ? pass.video.encoderTimeBase : pass.audio.encoderTimeBase;
    pass.reached = std::max(pass.reached, (static_cast<double>(frame->pts) + length) * av_q2d(tb));
    const double duration = m_probe.duration;
    Transcoder::Status status{pass.number, m_plan.passes, pass.reached, duration, 0};
    if (duration > 0)
        status.fraction = std::min(1.0, pass.reached / duration);
    else if (m_inputSize > 0)
        status.fraction = std::min(1.0, static_cast<double>(pass.reader->BytesRead()) / static_cast<double>(m_inputSize));
    m_progress(status);
}

QString Job::Pump(Pass &pass)
{
    SourceReader &reader = *pass.reader;
    // About a second of pictures in flight is enough to keep both threads busy.
    FrameQueue queue(32);
    // Whatever leaves the reading thread's body becomes the pass's failure; it must never
    // reach std::terminate.
    std::thread readerThread([&] {
        try {
            reader.ReadAll(pass.source.format.get(), pass.video, pass.audio, queue);
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
    bool ended = false;
    while (auto item = queue.Pop(m_stop)) {
        if (item->kind == FrameQueue::Kind::End) {
            ended = true;
            break;
        }
        const bool isVideo = item->kind == FrameQueue::Kind::Video;
        writeError = isVideo ? EncodeVideo(pass, item->frame.get()) : EncodeAudio(pass, item->frame.get());
        if (!writeError.isEmpty())
            break;
        Report(pass, *item);
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
    return {};
}

QString Job::Finish(Pass &pass)
{
    if (pass.videoEncoder) {
        if (QString error = EncodeVideo(pass, nullptr); !error.isEmpty())
            return error;
    }
    if (pass.audioEncoder) {
        if (QString error = EncodeAudio(pass, nullptr); !error.isEmpty())
            return error;
        if (m_out)
            m_out->SetAudioEnd(pass.audioEncoder->EndMs());
    }

    // A file that stops well before the length its header promises was cut off.
    const Source &source = pass.source;
    const double read = pass.reader->SecondsRead();
    if (source.durationReliable && source.duration > 0 && read < source.duration - std::max(2.0, source.duration * 0.1))
        return QStringLiteral("输入文件 %1 不完整：只能读到 %2 秒，而它应有 %3 秒")
            .arg(m_input)
            .arg(read, 0, 'f', 1)
            .arg(source.duration, 0, 'f', 1);
    if (read <= 0)
        return QStringLiteral("输入文件 %1 中没有能解码的画面或声音").arg(m_input);

    if (pass.measuring && pass.videoEncoder)
        m_firstPass = pass.videoEncoder->Records();
    if (m_out) {
        if (QString error = m_out->Finish(); !error.isEmpty())
            return error;
    }
    const double duration = m_probe.duration > 0 ? m_probe.duration : pass.reached;
    m_progress(Transcoder::Status{pass.number, m_plan.passes, duration, duration, 1.0});
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
