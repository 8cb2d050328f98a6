#pragma once

#include <QString>

namespace corva {

// The status line and progress-bar width shown while a job runs.
class ProgressText final
{
public:
    static constexpr float kFullBarWidth = 688.0f;

    // "压缩开始于09:35:07 完成45%  [12.5s/100s]"
    static QString Single(const QString &startTime, int percent, double secondsDone, double secondsTotal);
    // "正在压缩第2个文件 45%  [12.5s/100s]" for taskIndex 1
    static QString Batch(int taskIndex, int percent, double secondsDone, double secondsTotal);
    // p / 100 × 688 with p first narrowed to 16 bits, as a single-precision width.
    static float BarWidth(int percent);
    // Plain decimal with as many decimals as the value has: 12, 12.5, never 1e+06.
    static QString Plain(double value);
};

} // namespace corva
