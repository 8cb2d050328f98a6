#pragma once

#include "encoder/TaskQueue.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace corva {

// The run the encoder window drives: one job on its own, or the task list as a batch. It holds
// what the run is doing; the window only shows it and carries out the launches it asks for.
class RunController final
{
public:
    enum class Mode { Idle, Single, Batch };

    TaskQueue &Tasks() { return m_tasks; }
    const TaskQueue &Tasks() const { return m_tasks; }

    Mode CurrentMode() const { return m_mode; }
    bool IsIdle() const { return m_mode == Mode::Idle; }
    // The batch's current task, counted from 0; after the last one, the batch's length.
    int TaskIndex() const { return m_taskIndex; }
    // Fixed when the batch starts: tasks queued during the run wait for the next one.
    int BatchCount() const { return m_batchCount; }
    int FailedCount() const { return m_failedCount; }
    // When the run (or the batch's first encode) began, as the window shows the time of day.
    const QString &StartTime() const { return m_startTime; }
    void SetStartTime(const QString &time) { m_startTime = time; }

    // A running batch addresses its rows by index, so they stay where they are until it ends.
    bool RemoveTask(int row);
    bool ClearTasks();

    // Both refuse while a run goes on.
    bool StartSingle();
    bool StartBatch(const QString &startTime);

    // The batch row to launch now; nothing when the batch has run through (or no batch runs).
    std::optional<int> NextTask() const;
    // The row NextTask() gave was handed to the engine.
    void Launched();
    // It never reached the engine: marked failed, and the batch moves on.
    void LaunchFailed(const QString &reason);
    // The engine ended the running task; its row, or nothing when no batch task was running.
    std::optional<int> Finished(bool succeeded, const QString &reason);
    bool HasMoreTasks() const { return m_mode == Mode::Batch && m_taskIndex < m_batchCount; }

    struct BatchEnd
    {
        int failed = 0;
        std::vector<int> removedRows; // finished rows taken out, last first
        QStringList failures;         // "第N个任务 OUTPUT：REASON" for each failed task
    };
    // Finished rows go; failed ones stay as the record of what went wrong, and tasks added during
    // the run stay to be run next time.
    BatchEnd CompleteBatch();
    // Back to idle after a single job (or a batch cut short).
    void EndRun();

private:
    TaskQueue m_tasks;
    Mode m_mode = Mode::Idle;
    int m_taskIndex = 0;
    int m_batchCount = 0;
    int m_failedCount = 0;
    QString m_startTime;
};

} // namespace corva
