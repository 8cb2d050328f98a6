#include "encoder/ProgressText.h"

#include <cmath>
#include <cstdint>

namespace corva {

QString ProgressText::Plain(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("0");
    QString text = QString::number(value, 'f', 6);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    if (text == u"-0")
        text = QStringLiteral("0");
    return text;
}

QString ProgressText::Single(const QString &startTime, int percent, double done, double total)
{
    return QStringLiteral("压缩开始于") + startTime + QStringLiteral(" 完成") + QString::number(percent)
           + QStringLiteral("%  [") + Plain(done) + QStringLiteral("s/") + Plain(total) + QStringLiteral("s]");
}

QString ProgressText::Batch(int taskIndex, int percent, double done, double total)
{
    return QStringLiteral("正在压缩第") + QString::number(taskIndex + 1) + QStringLiteral("个文件 ")
           + QString::number(percent) + QStringLiteral("%  [") + Plain(done) + QStringLiteral("s/") + Plain(total)
           + QStringLiteral("s]");
}

float ProgressText::BarWidth(int percent)
{
    const auto narrowed = static_cast<std::int16_t>(percent);
    return static_cast<float>(narrowed / 100.0 * static_cast<double>(kFullBarWidth));
}

} // namespace corva
