#include "encoder/TaskQueue.h"

namespace corva {

QString Task::StateText(State state)
{
    switch (state) {
    case State::Waiting:
        return QStringLiteral("待命");
    case State::Running:
        return QStringLiteral("正在压缩");
    case State::Done:
        return QStringLiteral("完成");
    case State::Failed:
        return QStringLiteral("失败");
    }
    return {};
}

int TaskQueue::Add(Task task)
{
    m_rows.push_back(std::move(task));
    return Count() - 1;
}

void TaskQueue::SetState(int row, Task::State state, const QString &failure)
{
    Task &task = m_rows.at(static_cast<std::size_t>(row));
    task.state = state;
    task.failure = state == Task::State::Failed ? failure : QString();
}

void TaskQueue::Remove(int row)
{
    m_rows.erase(m_rows.begin() + row);
}

} // namespace corva
