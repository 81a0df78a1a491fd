#pragma once
// A readers/writer lock that lets readers in as long as any reader holds it.
//
// Readers share the lock; a writer holds it alone. While one reader is inside
// every new reader enters at once, so a steady stream of readers can hold a
// writer off indefinitely; the tables that use it are read far more often
// than written, and that is accepted. There is no upgrade: code that may
// write takes the write lock from the start.

#include "foundation/Semaphore.h"

#include <cstdint>

namespace vp {

class ReadersFirstLock {
public:
    ReadersFirstLock() = default;
    ReadersFirstLock(const ReadersFirstLock&) = delete;
    ReadersFirstLock& operator=(const ReadersFirstLock&) = delete;

    // Enters as a reader; the first reader in shuts writers out.
    void lockRead() {
        // The first reader takes the write lock while it still holds the
        // counter lock. Releasing the counter lock first would let a second
        // reader see a count of 2 and walk in while a writer still writes.
        m_counterLock.wait();
        if (++m_readers == 1) m_writeLock.wait();
        m_counterLock.release();
    }
    // Leaves as a reader; the last reader out lets writers in again.
    void unlockRead() {
        m_counterLock.wait();
        if (--m_readers == 0) m_writeLock.release();
        m_counterLock.release();
    }
    // Enters alone, once no reader and no other writer is inside.
    void lockWrite() { m_writeLock.wait(); }
    // Leaves as the writer.
    void unlockWrite() { m_writeLock.release(); }

private:
    Semaphore m_counterLock{1, 1};
    // Held by the writer, or on behalf of all readers by the first one in
    // until the last one leaves (which may be another thread: the semaphore
    // has no owner).
    Semaphore m_writeLock{1, 1};
    uint32_t m_readers = 0;
};

// Holds a ReadersFirstLock as a reader for the guard's lifetime.
class ReadGuard {
public:
    explicit ReadGuard(ReadersFirstLock& lock) : m_lock(lock) { m_lock.lockRead(); }
    ~ReadGuard() { m_lock.unlockRead(); }
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

private:
    ReadersFirstLock& m_lock;
};

// Holds a ReadersFirstLock as the writer for the guard's lifetime.
class WriteGuard {
public:
    explicit WriteGuard(ReadersFirstLock& lock) : m_lock(lock) { m_lock.lockWrite(); }
    ~WriteGuard() { m_lock.unlockWrite(); }
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;

private:
    ReadersFirstLock& m_lock;
};

} // namespace vp
