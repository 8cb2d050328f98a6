#include "engine/SettingWords.h"

#include "engine/EncodePlan.h"

#include <QRegularExpression>

namespace corva {

namespace {

template <typename T, size_t N>
std::optional<T> lookup(const QString &word, const std::pair<T, const char16_t *> (&table)[N])
{
    for (const auto &[value, text] : table) {
        if (word.compare(QString::fromUtf16(text), Qt::CaseInsensitive) == 0)
            return value;
    }
    return std::nullopt;
}

template <typename T, size_t N>
QString name(T value, const std::pair<T, const char16_t *> (&table)[N])
{
    for (const auto &[v, text] : table) {
        if (v == value)
            return QString::fromUtf16(text);
    }
    return {};
}

const std::pair<VideoMode, const char16_t *> kVideoModes[] = {
    {VideoMode::Normal, u"normal"}, {VideoMode::Sharp, u"sharp"},
    {VideoMode::Smooth, u"smooth"}, {VideoMode::Slideshow, u"slideshow"}};
const std::pair<AudioMode, const char16_t *> kAudioModes[] = {
    {AudioMode::Music, u"music"}, {AudioMode::Voice, u"voice"}};
const std::pair<NoiseFilter, const char16_t *> kNoiseFilters[] = {
    {NoiseFilter::None, u"None"}, {NoiseFilter::Low, u"low"}, {NoiseFilter::High, u"high"}};
const std::pair<CodecEffort, const char16_t *> kCodecs[] = {
    {CodecEffort::Rv8, u"rv8"}, {CodecEffort::Rv9, u"rv9"}, {CodecEffort::Rv10, u"rv10"}};
const std::pair<bool, const char16_t *> kQualities[] = {{false, u"fast"}, {true, u"high"}};

} // namespace

QString SettingWords::Text(VideoMode mode) { return name(mode, kVideoModes); }
QString SettingWords::Text(AudioMode mode) { return name(mode, kAudioModes); }
QString SettingWords::Text(NoiseFilter filter) { return name(filter, kNoiseFilters); }
QString SettingWords::Text(CodecEffort codec) { return name(codec, kCodecs); }
QString SettingWords::QualityText(bool high) { return name(high, kQualities); }

std::optional<VideoMode> SettingWords::ParseVideoMode(const QString &word) { return lookup(word, kVideoModes); }
std::optional<AudioMode> SettingWords::ParseAudioMode(const QString &word) { return lookup(word, kAudioModes); }
std::optional<NoiseFilter> SettingWords::ParseNoiseFilter(const QString &word) { return lookup(word, kNoiseFilters); }
std::optional<CodecEffort> SettingWords::ParseCodec(const QString &word) { return lookup(word, kCodecs); }
std::optional<bool> SettingWords::ParseQuality(const QString &word) { return lookup(word, kQualities); }

bool SettingWords::ParseSize(const QString &text, int *width, int *height)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    *width = m.captured(1).toInt();
    *height = m.captured(2).toInt();
    return true;
}

QString SettingWords::SizeProblem(int width, int height)
{
    const auto fits = [](int side, int most) { return side == 0 || (side >= EncodePlan::kMinSize && side <= most); };
    if (fits(width, EncodePlan::kMaxWidth) && fits(height, EncodePlan::kMaxHeight))
        return {};
    return QStringLiteral("画面尺寸 %1x%2 超出范围：宽应为 0 或 %3–%4，高应为 0 或 %3–%5")
        .arg(width)
        .arg(height)
        .arg(EncodePlan::kMinSize)
        .arg(EncodePlan::kMaxWidth)
        .arg(EncodePlan::kMaxHeight);
}

std::optional<int> SettingWords::ParseGain(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?\\d{1,2}$"));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    const int gain = text.toInt();
    if (gain < -12 || gain > 12)
        return std::nullopt;
    return gain;
}

} // namespace corva
