#pragma once

#include "engine/FfmpegOwners.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

namespace corva {

// Filtered pictures and sound on their way from the decoding thread to the encoding thread.
// Bounded, so a fast decoder cannot run ahead by more than a few frames of memory. A waiting
// side sleeps until the other side acts, the queue closes or the job's stop is requested.
class FrameQueue final
{
public:
    enum class Kind { Video, Audio, End };
    struct Item
    {
        Kind kind = Kind::End;
        FramePtr frame;
    };

    explicit FrameQueue(size_t capacity) : m_capacity(capacity) {}

    // False when the queue was closed or the stop requested; the item is then dropped.
    bool Push(Item item, std::stop_token stop)
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.wait(lock, stop, [&] { return m_items.size() < m_capacity || m_closed; });
        --m_waiting;
        if (m_closed || stop.stop_requested())
            return false;
        m_items.push_back(std::move(item));
        m_changed.notify_all();
        return true;
    }

    // Nothing when the queue was closed and is empty, or the stop requested.
    std::optional<Item> Pop(std::stop_token stop)
    {
        std::unique_lock lock(m_mutex);
        ++m_waiting;
        m_changed.wait(lock, stop, [&] { return !m_items.empty() || m_closed; });
        --m_waiting;
        if (m_items.empty() || stop.stop_requested())
            return std::nullopt;
        Item item = std::move(m_items.front());
        m_items.pop_front();
        m_changed.notify_all();
        return item;
    }

    // The sides inside Push or Pop now; one seen there sleeps until something changes.
    int Waiting()
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }

    void Close()
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

private:
    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<Item> m_items;
    bool m_closed = false;
    int m_waiting = 0;
};

} // namespace corva
