#include "foundation/ThreadLib.h"

#include "foundation/ThreadMessaging.h"
#include "foundation/ThreadTable.h"
#include "platform/EventLog.h"

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

// The lives of the library's threads: registration, creation, the start
// signal, the cooperative kill with its cancel actions, and the end of every
// thread. The table of records is in ThreadTable.cpp, the messages between
// the threads in ThreadMessaging.cpp.

namespace vp {

using threadlib::currentTable;
using threadlib::currentThreadId;
using threadlib::findRecord;
using threadlib::GlobalGuard;
using threadlib::ThreadRecord;
using threadlib::ThreadTable;

namespace {

constexpr char kCrashSource[] = "ThreadLib";
constexpr char kCrashText[] = "A Thread has crashed::";

std::atomic<ThreadLib::CrashReporter> g_crashReporter{nullptr};

// Serialises init and shutdown, which create and free the table.
Semaphore& lifecycleLock() {
    static Semaphore lock(1, 1);
    return lock;
}

// A record, or null when memory ran out: the callers answer 0 for that.
std::unique_ptr<ThreadRecord> makeRecord() {
    try {
        return std::make_unique<ThreadRecord>();
    } catch (...) {
        return nullptr;
    }
}

// Waits, with the global lock given up, until kill has finished running the
// record's cancel action.
void waitForCancelAction(GlobalGuard& guard, ThreadRecord& record) {
    while (record.actionRunning) {
        guard.unlock();
        record.actionDone.wait();
        guard.lock();
    }
}

// A cancel action runs on whatever thread called kill; nothing it throws may
// travel on from there.
void runCancelAction(const std::function<void()>& action) {
    try {
        action();
    } catch (...) {
    }
}

void reportCrash() {
    const ThreadLib::CrashReporter reporter = g_crashReporter.load();
    if (reporter) {
        reporter(kCrashSource, kCrashText);
    } else {
        platform::reportErrorEvent(kCrashSource, kCrashText);
    }
}

// The end of every library thread, after its entry returned (or never ran):
// out of the table, its senders released, and its record on the finished
// chain, where the next createThread or shutdown joins the thread and frees
// the record. The thread touches the record no more after that.
void finishThread(ThreadTable& table, ThreadRecord& record) {
    // Destroyed after the lock is given up: what the action captured is the
    // thread's business, not the library's.
    std::function<void()> leftover;
    GlobalGuard guard(table);
    waitForCancelAction(guard, record);
    leftover = std::move(record.cancelAction);
    record.state = ThreadLib::kStateEnded;
    threadlib::releaseSenders(record);
    table.finished.push(threadlib::unregisterRecord(table, record));
    if (--table.liveThreads == 0) table.threadEnded.release();
}

void runThread(ThreadTable* table, ThreadRecord* record) {
    record->start.wait();
    bool run = false;
    std::function<uint32_t()> entry;
    {
        GlobalGuard guard(*table);
        run = record->resumed;
        entry = std::move(record->entry);
        threadlib::setCurrentThreadId(record->id);
    }
    if (run) {
        try {
            entry();
        } catch (...) {
            reportCrash();
        }
    }
    entry = nullptr;
    finishThread(*table, *record);
    threadlib::setCurrentThreadId(0);
}

// Joins the threads that have handed their records over and frees the
// records. They have nothing left to do but return, so this never waits for
// long.
void joinFinished(ThreadTable& table) {
    for (;;) {
        std::unique_ptr<ThreadRecord> record;
        {
            GlobalGuard guard(table);
            record = table.finished.takeFirst();
        }
        if (!record) return;
        if (record->thread.joinable()) record->thread.join();
    }
}

// A library thread that is not cancelled yet, 0 when there is none.
uint32_t findUncancelledThread(ThreadTable& table) {
    GlobalGuard guard(table);
    ReadGuard tableGuard(table.tableLock);
    for (const threadlib::RecordChain& bucket : table.buckets) {
        for (const ThreadRecord* record = bucket.first(); record; record = threadlib::RecordChain::next(*record)) {
            if (record->isLibraryThread() && !record->cancelled) return record->id;
        }
    }
    return 0;
}

} // namespace

uint32_t ThreadLib::init() {
    SemaphoreLock lifecycle(lifecycleLock());
    ThreadTable* table = currentTable();
    const bool madeTable = table == nullptr;
    if (madeTable) table = threadlib::createTable();
    if (!table) return 0;
    GlobalGuard guard(*table);
    if (const ThreadRecord* own = findRecord(*table, currentThreadId())) return own->id;
    std::unique_ptr<ThreadRecord> record = makeRecord();
    if (!record) {
        guard.unlock();
        if (madeTable) threadlib::destroyTable();
        return 0;
    }
    record->id = threadlib::nextId();
    record->state = kStateRunning;
    record->resumed = true;
    const uint32_t id = threadlib::registerRecord(*table, std::move(record)).id;
    threadlib::setCurrentThreadId(id);
    return id;
}

void ThreadLib::shutdown() {
    SemaphoreLock lifecycle(lifecycleLock());
    ThreadTable* table = currentTable();
    if (!table) return;

    // kill takes the global lock itself and may run cancel actions, so the
    // threads are picked one at a time.
    while (const uint32_t id = findUncancelledThread(*table)) kill(id);
    {
        GlobalGuard guard(*table);
        while (table->liveThreads != 0) {
            guard.unlock();
            table->threadEnded.wait();
            guard.lock();
        }
    }
    joinFinished(*table);
    // What is left are the records of threads registered by init; they go
    // with the table.
    threadlib::destroyTable();
    threadlib::setCurrentThreadId(0);
}

uint32_t ThreadLib::createThread(Entry entry, std::uintptr_t argument) {
    if (!entry) return 0;
    std::function<uint32_t()> bound;
    try {
        bound = [entry, argument] { return entry(argument); };
    } catch (...) {
        return 0;
    }
    return createThread(std::move(bound));
}

uint32_t ThreadLib::createThread(std::function<uint32_t()> entry) {
    ThreadTable* table = currentTable();
    if (!table || !entry) return 0;
    joinFinished(*table);

    std::unique_ptr<ThreadRecord> record = makeRecord();
    if (!record) return 0;
    record->id = threadlib::nextId();
    record->state = kStateCreated;
    record->entry = std::move(entry);

    GlobalGuard guard(*table);
    // The thread starts at once but waits for its start signal before it
    // touches anything, which is what "suspended" means here. Without a
    // thread to be had (std::system_error) the record goes unused.
    try {
        record->thread = std::thread(runThread, table, record.get());
    } catch (...) {
        return 0;
    }
    ++table->liveThreads;
    return threadlib::registerRecord(*table, std::move(record)).id;
}

uint32_t ThreadLib::resume(uint32_t id) {
    ThreadTable* table = currentTable();
    if (!table) return 0;
    GlobalGuard guard(*table);
    ThreadRecord* record = findRecord(*table, id);
    if (!record || record->state != kStateCreated || record->resumed || record->cancelled) return 0;
    record->resumed = true;
    record->state = kStateRunning;
    record->start.release();
    return 1;
}

uint32_t ThreadLib::kill(uint32_t id) {
    ThreadTable* table = currentTable();
    if (!table) return 0;
    ThreadRecord* record = nullptr;
    std::function<void()> action;
    bool othersWait = false;
    {
        GlobalGuard guard(*table);
        record = findRecord(*table, id);
        if (!record) return 0;
        if (record->cancelled) return 1;
        record->cancelled = true;
        threadlib::releaseSenders(*record);
        threadlib::wakeIfBlocked(*record);
        // A thread never resumed ends without running its entry.
        if (record->state == kStateCreated && !record->resumed) record->start.release();
        if (!record->cancelAction) return 1;
        action = std::move(record->cancelAction);
        record->cancelAction = nullptr;
        // A thread that kills itself runs its own action and has nobody to wait for.
        othersWait = record->id != currentThreadId();
        record->actionRunning = othersWait;
    }
    // Outside the lock: the action typically closes a socket or releases a
    // wait, and may well call back into the library.
    runCancelAction(action);
    action = nullptr;
    if (othersWait) {
        // The record cannot be gone: its thread waits for actionRunning to
        // clear before it ends (and shutdown waits for every thread to end).
        GlobalGuard guard(*table);
        record->actionRunning = false;
        record->actionDone.release();
    }
    return 1;
}

uint32_t ThreadLib::send(uint32_t id, ThreadMessage& message) {
    ThreadTable* table = currentTable();
    return table ? threadlib::sendMessage(*table, id, message) : 0;
}

uint32_t ThreadLib::receive(ThreadMessage& message) {
    ThreadTable* table = currentTable();
    return table ? threadlib::receiveMessage(*table, message, false, 0) : 0;
}

uint32_t ThreadLib::receiveTimed(ThreadMessage& message, uint32_t milliseconds) {
    ThreadTable* table = currentTable();
    return table ? threadlib::receiveMessage(*table, message, true, milliseconds) : 0;
}

uint32_t ThreadLib::reply(uint32_t id, ThreadMessage& message) { return replyFrom(id, currentThreadId(), message); }

uint32_t ThreadLib::replyFrom(uint32_t id, uint32_t receiverId, ThreadMessage& message) {
    ThreadTable* table = currentTable();
    return table ? threadlib::replyMessage(*table, id, receiverId, message) : 0;
}

uint32_t ThreadLib::currentId() { return currentThreadId(); }

uint32_t ThreadLib::stateOf(uint32_t id) {
    ThreadTable* table = currentTable();
    if (!table) return kStateEnded;
    GlobalGuard guard(*table);
    const ThreadRecord* record = findRecord(*table, id);
    return record ? record->state : kStateEnded;
}

uint32_t ThreadLib::threadCount() {
    ThreadTable* table = currentTable();
    if (!table) return 0;
    ReadGuard guard(table->tableLock);
    return table->threadCount;
}

uint32_t ThreadLib::setCancelAction(std::function<void()> action) {
    ThreadTable* table = currentTable();
    if (!table) return 0;
    std::function<void()> previous;
    GlobalGuard guard(*table);
    ThreadRecord* self = findRecord(*table, currentThreadId());
    if (!self) return 0;
    waitForCancelAction(guard, *self);
    if (self->cancelled) {
        guard.unlock();
        if (action) runCancelAction(action);
        return 1;
    }
    previous = std::move(self->cancelAction);
    self->cancelAction = std::move(action);
    guard.unlock();
    return 1;
}

void ThreadLib::clearCancelAction() {
    ThreadTable* table = currentTable();
    if (!table) return;
    std::function<void()> previous;
    GlobalGuard guard(*table);
    ThreadRecord* self = findRecord(*table, currentThreadId());
    if (!self) return;
    waitForCancelAction(guard, *self);
    previous = std::move(self->cancelAction);
    self->cancelAction = nullptr;
    guard.unlock();
}

bool ThreadLib::isCancelled() {
    ThreadTable* table = currentTable();
    if (!table) return false;
    GlobalGuard guard(*table);
    const ThreadRecord* self = findRecord(*table, currentThreadId());
    return self && self->cancelled;
}

void ThreadLib::setCrashReporter(CrashReporter reporter) { g_crashReporter.store(reporter); }

} // namespace vp
