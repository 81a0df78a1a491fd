#include "foundation/Semaphore.h"

#include <chrono>

namespace vp {

Semaphore::Semaphore() : m_count(0), m_maximum(1) {}

Semaphore::Semaphore(int32_t initial, int32_t maximum) : m_count(initial), m_maximum(maximum) {
    // The operating system refuses to create such a semaphore; here it exists
    // but behaves as one whose creation failed.
    if (initial < 0 || maximum < 1 || initial > maximum) {
        m_count = 0;
        m_closed = true;
    }
}

Semaphore::~Semaphore() {
    // A thread still blocked in wait() would otherwise wake inside a freed
    // object; closing releases it and we wait until it has left the mutex.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_waiters == 0; });
}

uint32_t Semaphore::wait() {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_waiters;
    m_changed.wait(lock, [this] { return m_closed || m_count > 0; });
    --m_waiters;
    if (m_closed) {
        // The destructor may be waiting for the last waiter to leave.
        if (m_waiters == 0) m_changed.notify_all();
        return 0;
    }
    --m_count;
    return 1;
}

uint32_t Semaphore::waitTimed(uint32_t milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_waiters;
    const bool ready = m_changed.wait_until(lock, deadline, [this] { return m_closed || m_count > 0; });
    --m_waiters;
    if (m_closed) {
        if (m_waiters == 0) m_changed.notify_all();
        return 0;
    }
    if (!ready) return 0;
    --m_count;
    return 1;
}

uint32_t Semaphore::release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed || m_count >= m_maximum) return 0;
    ++m_count;
    // Only waiters can be blocked here: the destructor waits on the same
    // condition variable only after closing, and a closed semaphore refuses
    // releases, so one wake-up always reaches a thread that can use it.
    m_changed.notify_one();
    return 1;
}

uint32_t Semaphore::close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return 0;
    m_closed = true;
    m_changed.notify_all();
    return 1;
}

} // namespace vp
