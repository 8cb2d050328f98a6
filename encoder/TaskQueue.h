#pragma once

#include <QString>

#include <vector>

namespace corva {

// One queued job as the task list shows it.
struct Task
{
    enum class State { Waiting, Running, Done, Failed };

    QString source;
    QString output;
    QString commandLine; // the producer tool's command line, built when the task was queued
    State state = State::Waiting;
    QString failure;     // why a failed task failed, as the tool or the engine said it

    // The word the state column shows.
    static QString StateText(State state);
};

// The rows of the task list, in the order they run.
class TaskQueue final
{
public:
    int Add(Task task);
    int Count() const { return static_cast<int>(m_rows.size()); }
    bool IsEmpty() const { return m_rows.empty(); }
    bool Contains(int row) const { return row >= 0 && row < Count(); }
    const Task &At(int row) const { return m_rows.at(static_cast<std::size_t>(row)); }

    void SetState(int row, Task::State state, const QString &failure = QString());
    void Remove(int row);
    void Clear() { m_rows.clear(); }

private:
    std::vector<Task> m_rows;
};

} // namespace corva
