#pragma once
// The one counting semaphore behind every lock and every wake-up signal.
//
// A mutex is Semaphore(1, 1); a signal is Semaphore() (count 0, maximum 1).
// There is no owner: any thread may release what another thread took, which
// the readers/writer lock and the thread library rely on.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vp {

class Semaphore {
public:
    // Count 0, maximum 1: unavailable until someone releases it.
    Semaphore();
    // Count initial, at most maximum. A count below 0, a maximum below 1 or an
    // initial count above the maximum gives a semaphore whose waits and
    // releases all fail (result 0).
    Semaphore(int32_t initial, int32_t maximum);
    // Closes the semaphore and waits until every blocked waiter has left.
    ~Semaphore();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Blocks until the count can be lowered by one: 1, or 0 once it is closed.
    uint32_t wait();
    // As wait, giving up after milliseconds: 1, or 0 on time-out or when closed.
    uint32_t waitTimed(uint32_t milliseconds);
    // Raises the count by one: 1, or 0 when that would pass the maximum or
    // the semaphore is closed (the count is then unchanged).
    uint32_t release();
    // Wakes every waiter with 0 and makes later waits and releases fail.
    // 1, or 0 when it was closed already.
    uint32_t close();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int32_t m_count;
    int32_t m_maximum;
    uint32_t m_waiters = 0;
    bool m_closed = false;
};

// Scoped use of a semaphore as a mutex: waits on construction and releases on
// destruction, but only when the wait succeeded.
class SemaphoreLock {
public:
    explicit SemaphoreLock(Semaphore& semaphore) : m_semaphore(semaphore), m_acquired(semaphore.wait() == 1) {}
    ~SemaphoreLock() {
        if (m_acquired) m_semaphore.release();
    }

    SemaphoreLock(const SemaphoreLock&) = delete;
    SemaphoreLock& operator=(const SemaphoreLock&) = delete;

    // False when the semaphore was closed instead of taken.
    bool acquired() const { return m_acquired; }

private:
    Semaphore& m_semaphore;
    bool m_acquired;
};

} // namespace vp
