#pragma once
// The thread library's table: one record for every thread the library knows,
// found by id, and the lock that guards them. Inside the thread library only:
// ThreadLib.cpp gives the threads their lives, ThreadMessaging.cpp carries
// their messages, and both work on these records.
//
// Lock order: the global lock first, then the table lock. Every field of a
// record is guarded by the global lock; the table lock guards the buckets and
// the thread count as well, so that threadCount() need not wait for senders.

#include "foundation/ReadersFirstLock.h"
#include "foundation/Semaphore.h"
#include "foundation/ThreadLib.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace vp::threadlib {

struct ThreadRecord;

// A queue of senders, threaded through the records themselves so that
// queuing never allocates. It does not own its records: a sender is in at
// most one queue at a time, and leaves it before its send returns.
class SenderQueue {
public:
    SenderQueue() = default;
    SenderQueue(const SenderQueue&) = delete;
    SenderQueue& operator=(const SenderQueue&) = delete;

    void append(ThreadRecord& sender);
    // true when sender was in this queue (and is now out of it).
    bool remove(ThreadRecord& sender);
    // The longest waiting sender, taken out of the queue; null when empty.
    ThreadRecord* takeFirst();

private:
    ThreadRecord* m_head = nullptr;
    ThreadRecord* m_tail = nullptr;
};

// Records owned through a chain of forward links: a bucket of the table, or
// the threads that have ended and wait to be joined. A record sits in one
// chain at most, so moving it between them never allocates.
class RecordChain {
public:
    RecordChain() = default;
    // Takes the records apart one by one: a long chain must not recurse.
    ~RecordChain();
    RecordChain(const RecordChain&) = delete;
    RecordChain& operator=(const RecordChain&) = delete;

    void push(std::unique_ptr<ThreadRecord> record);
    // The record taken out of the chain; null when it is not in it.
    std::unique_ptr<ThreadRecord> take(const ThreadRecord& record);
    std::unique_ptr<ThreadRecord> takeFirst();
    ThreadRecord* first() const { return m_head.get(); }
    static ThreadRecord* next(const ThreadRecord& record);

private:
    std::unique_ptr<ThreadRecord> m_head;
};

// One thread the library knows.
struct ThreadRecord {
    ThreadRecord() = default;
    ThreadRecord(const ThreadRecord&) = delete;
    ThreadRecord& operator=(const ThreadRecord&) = delete;

    uint32_t id = 0;
    uint32_t state = ThreadLib::kStateRunning;
    // Not joinable for a thread registered by init. Joined by whoever takes
    // the record off the finished chain: a thread cannot join itself.
    std::thread thread;
    std::function<uint32_t()> entry;
    // Released by resume, or by kill of a thread never resumed.
    Semaphore start;
    bool resumed = false;
    // The thread blocks on it in send and receive.
    Semaphore wake;
    // Senders not yet received, and senders received but not yet answered.
    SenderQueue pending;
    SenderQueue unanswered;
    // The message of the current send or receive.
    ThreadMessage* buffer = nullptr;
    // An id rather than a pointer: the target may end while this thread
    // still wakes up.
    uint32_t sendTarget = 0;
    // A reply was copied into buffer.
    bool answered = false;
    bool cancelled = false;
    std::function<void()> cancelAction;
    // kill is running the action outside the lock; the thread must not let go
    // of what it refers to until actionDone is released.
    bool actionRunning = false;
    Semaphore actionDone;

    // The queue of senders this thread waits in, if any, and its place there.
    SenderQueue* queue = nullptr;
    ThreadRecord* queuePrevious = nullptr;
    ThreadRecord* queueNext = nullptr;
    // The next record of the chain that owns this one.
    std::unique_ptr<ThreadRecord> chainNext;

    bool isLibraryThread() const { return thread.joinable(); }
};

// The library's state, made by the first init and freed by shutdown.
struct ThreadTable {
    Semaphore globalLock{1, 1};
    ReadersFirstLock tableLock;
    RecordChain buckets[ThreadLib::kBucketCount];
    uint32_t threadCount = 0;  // guarded by tableLock
    // Records of library threads that have ended, waiting to be joined.
    RecordChain finished;
    // Library threads that have not yet handed their record over.
    uint32_t liveThreads = 0;
    Semaphore threadEnded;
};

// The table while the library is initialised, else null.
ThreadTable* currentTable();
// Makes the table; null when memory ran out. Called under init's lock.
ThreadTable* createTable();
// Frees the table and every record left in it. Called under shutdown's lock
// once no library thread is left.
void destroyTable();

// The calling thread's id, 0 when it is not registered.
uint32_t currentThreadId();
void setCurrentThreadId(uint32_t id);
// A new id, never 0 and never handed out before in this process.
uint32_t nextId();

// The record of id, null when there is none. The caller holds the global lock.
ThreadRecord* findRecord(ThreadTable& table, uint32_t id);
// Puts record into the table, which owns it from then on.
ThreadRecord& registerRecord(ThreadTable& table, std::unique_ptr<ThreadRecord> record);
// Takes record out of the table and hands it back to the caller.
std::unique_ptr<ThreadRecord> unregisterRecord(ThreadTable& table, const ThreadRecord& record);

// The global lock, given up around every blocking wait.
class GlobalGuard {
public:
    explicit GlobalGuard(ThreadTable& table) : m_lock(table.globalLock) { lock(); }
    ~GlobalGuard() {
        if (m_held) m_lock.release();
    }
    GlobalGuard(const GlobalGuard&) = delete;
    GlobalGuard& operator=(const GlobalGuard&) = delete;

    void lock() {
        m_lock.wait();
        m_held = true;
    }
    void unlock() {
        m_held = false;
        m_lock.release();
    }

private:
    Semaphore& m_lock;
    bool m_held = false;
};

} // namespace vp::threadlib
