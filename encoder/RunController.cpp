#include "encoder/RunController.h"

#include <algorithm>

namespace corva {

bool RunController::RemoveTask(int row)
{
    if (m_mode == Mode::Batch || !m_tasks.Contains(row))
        return false;
    m_tasks.Remove(row);
    return true;
}

bool RunController::ClearTasks()
{
    if (m_mode == Mode::Batch)
        return false;
    m_tasks.Clear();
    return true;
}

bool RunController::StartSingle()
{
    if (m_mode != Mode::Idle)
        return false;
    m_mode = Mode::Single;
    return true;
}

bool RunController::StartBatch(const QString &startTime)
{
    if (m_mode != Mode::Idle || m_tasks.IsEmpty())
        return false;
    m_mode = Mode::Batch;
    m_batchCount = m_tasks.Count();
    m_failedCount = 0;
    m_taskIndex = 0;
    m_startTime = startTime;
    return true;
}

std::optional<int> RunController::NextTask() const
{
    if (!HasMoreTasks())
        return std::nullopt;
    return m_taskIndex;
}

void RunController::Launched()
{
    if (HasMoreTasks())
        m_tasks.SetState(m_taskIndex, Task::State::Running);
}

void RunController::LaunchFailed(const QString &reason)
{
    if (!HasMoreTasks())
        return;
    m_tasks.SetState(m_taskIndex, Task::State::Failed, reason);
    ++m_failedCount;
    ++m_taskIndex;
}

std::optional<int> RunController::Finished(bool succeeded, const QString &reason)
{
    if (!HasMoreTasks())
        return std::nullopt;
    const int row = m_taskIndex++;
    m_tasks.SetState(row, succeeded ? Task::State::Done : Task::State::Failed, reason);
    if (!succeeded)
        ++m_failedCount;
    return row;
}

RunController::BatchEnd RunController::CompleteBatch()
{
    BatchEnd end;
    end.failed = m_failedCount;
    const int count = std::min(m_batchCount, m_tasks.Count());
    for (int row = 0; row < count; ++row) {
        const Task &task = m_tasks.At(row);
        if (task.state == Task::State::Failed)
            end.failures << QStringLiteral("第%1个任务 %2：%3").arg(row + 1).arg(task.output, task.failure);
    }
    for (int row = count - 1; row >= 0; --row) {
        if (m_tasks.At(row).state == Task::State::Done) {
            m_tasks.Remove(row);
            end.removedRows.push_back(row);
        }
    }
    EndRun();
    return end;
}

void RunController::EndRun()
{
    m_mode = Mode::Idle;
}

} // namespace corva
