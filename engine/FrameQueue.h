#pragma once

#include "engine/FfmpegOwners.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace corva {

// Filtered pictures and sound on their way from the decoding thread to the encoding thread.
// Bounded, so a fast decoder cannot run ahead by more than a few frames of memory; every wait
// wakes often enough to notice an abort.
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

    // False when the queue was closed or the job aborted; the item is then dropped.
    bool Push(Item item, const std::atomic<bool> &abort)
    {
        std::unique_lock lock(m_mutex);
        while (m_items.size() >= m_capacity && !m_closed) {
            if (abort.load())
                return false;
            m_changed.wait_for(lock, kPoll);
        }
        if (m_closed)
            return false;
        m_items.push_back(std::move(item));
        m_changed.notify_all();
        return true;
    }

    // Nothing when the queue was closed or the job aborted.
    std::optional<Item> Pop(const std::atomic<bool> &abort)
    {
        std::unique_lock lock(m_mutex);
        while (m_items.empty() && !m_closed) {
            if (abort.load())
                return std::nullopt;
            m_changed.wait_for(lock, kPoll);
        }
        if (m_items.empty())
            return std::nullopt;
        Item item = std::move(m_items.front());
        m_items.pop_front();
        m_changed.notify_all();
        return item;
    }

    void Close()
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

private:
    static constexpr std::chrono::milliseconds kPoll{20};
    const size_t m_capacity;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_items;
    bool m_closed = false;
};

} // namespace corva
