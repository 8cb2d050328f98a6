#include "engine/RmOutput.h"

#include "common/Gbk.h"
#include "engine/AvText.h"
#include "platform/TemporaryOutput.h"
#include "rmff/FileSink.h"
#include "rmff/RmError.h"

extern "C" {
#include <libavutil/error.h>
}

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>

namespace corva {

namespace {

std::string gbk(const QString &text)
{
    const QByteArray bytes = Gbk::Encode(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace

RmOutput::RmOutput(QString output) : m_output(std::move(output)) {}

RmOutput::~RmOutput()
{
    Discard();
}

QString RmOutput::Failure(const std::exception &e) const
{
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return QStringLiteral("内存不足，无法写入输出文件 %1").arg(m_output);
    // A medium that failed is named in the user's words (a full disk above all).
    if (m_sink && m_sink->LastError() != 0)
        return QStringLiteral("写入输出文件 %1 失败：%2").arg(m_output, AvText::Reason(AVERROR(m_sink->LastError())));
    return QStringLiteral("写入输出文件 %1 失败：%2").arg(m_output, QString::fromUtf8(e.what()));
}

QString RmOutput::Open(const std::optional<rmff::MuxVideo> &video, const std::optional<rmff::MuxAudio> &audio,
                       const JobSettings &job)
{
    // The content header keeps bytes as given; players of these files read them as GBK.
    rmff::Content content;
    content.title = gbk(job.title);
    content.author = gbk(job.author);
    content.copyright = gbk(job.copyright);

    m_temp = std::make_unique<TemporaryOutput>(std::filesystem::path(m_output.toStdU16String()));
    if (!m_temp->IsOpen()) {
        // The folder was there a moment ago, so a missing entry means a place that takes no
        // new files (a system folder), not a missing file.
        const int r = AVERROR(m_temp->Error());
        const QString why = m_temp->RefusedKind() != PathKind::Kind::Missing ? QString::fromUtf8(m_temp->Reason())
            : r == AVERROR(ENOENT)                                           ? QStringLiteral("这里不能创建文件")
                                                                             : AvText::Reason(r);
        return QStringLiteral("无法在文件夹 %1 中写入输出文件 %2：%3")
            .arg(QDir::toNativeSeparators(QFileInfo(m_output).absolutePath()), QFileInfo(m_output).fileName(), why);
    }
    try {
        m_sink = std::make_unique<rmff::FileSink>(m_temp->Descriptor(), std::filesystem::path(m_output.toStdU16String()));
        m_muxer = std::make_unique<rmff::RmMuxer>(*m_sink, video, audio, std::move(content));
    } catch (const std::exception &e) {
        return Failure(e);
    }
    return {};
}

QString RmOutput::WriteVideo(std::span<const std::vector<std::uint8_t>> slices, std::uint32_t timestampMs, bool keyframe)
{
    try {
        m_muxer->WriteVideo(slices, timestampMs, keyframe);
    } catch (const std::exception &e) {
        return Failure(e);
    }
    return {};
}

QString RmOutput::WriteAudio(std::span<const std::uint8_t> frame, std::uint32_t timestampMs)
{
    try {
        m_muxer->WriteAudio(frame, timestampMs);
    } catch (const std::exception &e) {
        return Failure(e);
    }
    return {};
}

void RmOutput::SetAudioEnd(std::uint32_t ms)
{
    if (m_muxer)
        m_muxer->SetAudioEnd(ms);
}

QString RmOutput::Finish()
{
    try {
        m_muxer->Finish();
        m_sink->Close();
    } catch (const std::exception &e) {
        return Failure(e);
    }
    return {};
}

QString RmOutput::Commit()
{
    m_muxer.reset();
    m_sink.reset();
    if (!m_temp || !m_temp->Commit()) {
        const QString why = m_temp ? QString::fromUtf8(m_temp->Reason()) : AvText::Reason(AVERROR(EIO));
        m_temp.reset();
        return QStringLiteral("无法把压缩好的文件保存为 %1：%2").arg(m_output, why);
    }
    m_temp.reset();
    return {};
}

void RmOutput::Discard()
{
    m_muxer.reset();
    m_sink.reset();
    if (m_temp)
        m_temp->Discard();
    m_temp.reset();
}

} // namespace corva
