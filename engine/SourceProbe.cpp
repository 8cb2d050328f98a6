#include "engine/SourceProbe.h"

#include "engine/AvText.h"
#include "engine/SourceCompleteness.h"
#include "engine/TitleSet.h"
#include "engine/TitleSetIo.h"

#include <string_view>

namespace corva {

namespace {

int interruptRequested(void *opaque)
{
    return static_cast<const std::stop_token *>(opaque)->stop_requested() ? 1 : 0;
}

int64_t pictureArea(const AVCodecParameters *par)
{
    return int64_t{par->width} * int64_t{par->height};
}

// The sound the source puts first: a track marked default, else the first decodable one.
// A program stream lists its streams as they turn up, so there the lowest stream id is
// first (a DVD's track 1 is 0x80, whichever packet came first).
int firstAudio(const AVFormatContext *context)
{
    const bool byId = context->iformat && std::string_view(context->iformat->name) == "mpeg";
    int chosen = -1;
    bool chosenDefault = false;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *st = context->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || !avcodec_find_decoder(st->codecpar->codec_id))
            continue;
        const bool isDefault = st->disposition & AV_DISPOSITION_DEFAULT;
        bool better = chosen < 0 || (isDefault && !chosenDefault);
        if (!better && byId && isDefault == chosenDefault)
            better = st->id < context->streams[chosen]->id;
        if (better) {
            chosen = static_cast<int>(i);
            chosenDefault = isDefault;
        }
    }
    return chosen;
}

} // namespace

QString SourceProbe::Open(const QString &input, const std::stop_token &stop, Source *source)
{
    AVFormatContext *context = avformat_alloc_context();
    if (!context)
        return QStringLiteral("内存不足，无法打开输入文件 %1").arg(input);
    context->interrupt_callback = AVIOInterruptCB{interruptRequested, const_cast<std::stop_token *>(&stop)};
    // A DVD title in several pieces is read as the one stream it was cut from.
    const QStringList pieces = TitleSet::Pieces(input);
    CustomIoPtr io;
    if (pieces.size() > 1) {
        if (QString error = TitleSetIo::Open(pieces, stop, &io); !error.isEmpty()) {
            avformat_free_context(context);
            return error;
        }
        context->pb = io.get();
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
    // On failure avformat_open_input frees the context itself, but not our own I/O.
    int r = avformat_open_input(&context, input.toUtf8().constData(), nullptr, nullptr);
    if (r >= 0)
        (void)io.release();
    if (r < 0) {
        if (stop.stop_requested())
            return AvText::Cancelled();
        if (r == AVERROR_INVALIDDATA)
            return QStringLiteral("无法识别输入文件 %1：它不是影音文件，或者已经损坏").arg(input);
        return QStringLiteral("无法打开输入文件 %1：%2").arg(input, AvText::Reason(r));
    }
    source->format.reset(context);
    r = avformat_find_stream_info(context, nullptr);
    if (r < 0) {
        if (stop.stop_requested())
            return AvText::Cancelled();
        return QStringLiteral("无法识别输入文件 %1 中的内容：%2").arg(input, AvText::Reason(r));
    }

    // The largest real picture stream; cover art is not a film.
    int64_t bestArea = 0;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream *st = context->streams[i];
        const AVCodecParameters *par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (!avcodec_find_decoder(par->codec_id) || par->width <= 0 || par->height <= 0)
            continue;
        if (!EncodePlan::PlausiblePicture(par->width, par->height))
            return QStringLiteral("输入文件 %1 的画面尺寸 %2x%3 不合理，文件可能已损坏").arg(input).arg(par->width).arg(par->height);
        if (pictureArea(par) > bestArea) {
            bestArea = pictureArea(par);
            source->videoIndex = static_cast<int>(i);
        }
    }
    source->audioIndex = firstAudio(context);

    SourceInfo &info = source->info;
    if (source->videoIndex >= 0) {
        AVStream *st = context->streams[source->videoIndex];
        info.hasVideo = true;
        info.width = st->codecpar->width;
        info.height = st->codecpar->height;
        info.sampleAspect = av_guess_sample_aspect_ratio(context, st, nullptr);
        info.frameRate = av_guess_frame_rate(context, st, nullptr);
        info.fieldOrder = st->codecpar->field_order;
    }
    if (source->audioIndex >= 0) {
        const AVCodecParameters *par = context->streams[source->audioIndex]->codecpar;
        info.hasAudio = true;
        info.sampleRate = par->sample_rate;
        info.channels = par->ch_layout.nb_channels;
    }
    source->startTime = context->start_time != AV_NOPTS_VALUE ? context->start_time : 0;
    if (context->duration > 0) {
        source->duration = static_cast<double>(context->duration) / AV_TIME_BASE;
        source->durationReliable = context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
        if (source->durationReliable)
            info.duration = source->duration;
    }
    // A streamed AVI's header holds placeholders where the lengths go: its film is as long as
    // its pictures, and progress goes by the bytes read.
    if (SourceCompleteness::Streamed(input)) {
        source->duration = 0;
        source->durationReliable = false;
    }
    return {};
}

} // namespace corva
