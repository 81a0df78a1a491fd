#include "foundation/ThreadLib.h"

#include "foundation/ReadersFirstLock.h"
#include "platform/EventLog.h"

#include <atomic>
#include <new>
#include <thread>

namespace vp {

namespace {

constexpr char kCrashSource[] = "ThreadLib";
constexpr char kCrashText[] = "A Thread has crashed::";

struct ThreadRecord;

struct RecordLinks {
    ThreadRecord* previous = nullptr;
    ThreadRecord* next = nullptr;
};

// A list (head, tail, count) threaded through the records themselves, so that
// joining or leaving one never allocates. A bucket of the thread table links
// its records through tableLinks, a list of senders through senderLinks (a
// thread sends to one target at a time, so it sits in at most one of those).
struct RecordList {
    ThreadRecord* head = nullptr;
    ThreadRecord* tail = nullptr;
    uint32_t count = 0;

    void append(ThreadRecord* record, RecordLinks ThreadRecord::*links);
    void remove(ThreadRecord* record, RecordLinks ThreadRecord::*links);
};

// The std::thread of a library thread. Made with the record, so that the
// ending thread can hand itself to the finished list without allocating.
struct ThreadHandle {
    std::thread thread;
    ThreadHandle* next = nullptr;
};

// Every field is guarded by the global lock.
struct ThreadRecord {
    uint32_t id = 0;
    uint32_t state = ThreadLib::kStateRunning;
    // Null for a thread registered by init.
    ThreadHandle* handle = nullptr;
    std::function<uint32_t()> entry;
    // Released by resume, or by kill of a thread never resumed.
    Semaphore start;
    bool resumed = false;
    // The thread blocks on it in send and receive.
    Semaphore wake;
    RecordList pending;
    RecordList unanswered;
    // The message of the current send or receive.
    ThreadMessage* buffer = nullptr;
    // An id rather than a pointer: the target may end and its memory be
    // reused while this thread still wakes up.
    uint32_t sendTarget = 0;
    // A reply was copied into buffer.
    bool answered = false;
    bool cancelled = false;
    std::function<void()> cancelAction;
    // kill is running the action outside the lock; the thread must not let go
    // of what it refers to until actionDone is released.
    bool actionRunning = false;
    Semaphore actionDone;

    bool registered = false;
    RecordLinks tableLinks;
    // The list of senders this thread is queued in, if any.
    RecordList* senderList = nullptr;
    RecordLinks senderLinks;
};

void RecordList::append(ThreadRecord* record, RecordLinks ThreadRecord::*links) {
    (record->*links).previous = tail;
    (record->*links).next = nullptr;
    (tail ? (tail->*links).next : head) = record;
    tail = record;
    ++count;
}

void RecordList::remove(ThreadRecord* record, RecordLinks ThreadRecord::*links) {
    RecordLinks& own = record->*links;
    (own.previous ? (own.previous->*links).next : head) = own.next;
    (own.next ? (own.next->*links).previous : tail) = own.previous;
    own = RecordLinks{};
    --count;
}

struct LibraryState {
    Semaphore globalLock{1, 1};
    ReadersFirstLock tableLock;
    RecordList buckets[ThreadLib::kBucketCount];
    uint32_t threadCount = 0;  // guarded by tableLock
    // Handles of threads that have ended, waiting to be joined.
    ThreadHandle* finished = nullptr;
    // Library threads that have not yet handed their handle over.
    uint32_t liveThreads = 0;
    Semaphore threadEnded;
};

std::atomic<LibraryState*> g_state{nullptr};
std::atomic<uint32_t> g_lastId{0};
std::atomic<ThreadLib::CrashReporter> g_crashReporter{nullptr};
thread_local uint32_t t_currentId = 0;

// Serialises init and shutdown, which create and free the state.
Semaphore& lifecycleLock() {
    static Semaphore lock(1, 1);
    return lock;
}

LibraryState* libraryState() { return g_state.load(std::memory_order_acquire); }

uint32_t nextId() {
    uint32_t id = 0;
    while (id == 0) id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

// The global lock, given up around every blocking wait.
class GlobalGuard {
public:
    explicit GlobalGuard(LibraryState& state) : m_lock(state.globalLock) { lock(); }
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

// The thread table. Callers hold the global lock, which comes first in the
// lock order; the table lock still guards the buckets for threadCount().

ThreadRecord* findRecord(LibraryState& state, uint32_t id) {
    if (id == 0) return nullptr;
    ReadGuard guard(state.tableLock);
    for (ThreadRecord* record = state.buckets[ThreadLib::bucketOf(id)].head; record; record = record->tableLinks.next) {
        if (record->id == id) return record;
    }
    return nullptr;
}

void registerRecord(LibraryState& state, ThreadRecord* record) {
    WriteGuard guard(state.tableLock);
    state.buckets[ThreadLib::bucketOf(record->id)].append(record, &ThreadRecord::tableLinks);
    ++state.threadCount;
    record->registered = true;
}

void unregisterRecord(LibraryState& state, ThreadRecord* record) {
    if (!record->registered) return;
    WriteGuard guard(state.tableLock);
    state.buckets[ThreadLib::bucketOf(record->id)].remove(record, &ThreadRecord::tableLinks);
    --state.threadCount;
    record->registered = false;
}

void appendSender(RecordList& list, ThreadRecord* sender) {
    list.append(sender, &ThreadRecord::senderLinks);
    sender->senderList = &list;
}

// True when sender was in list (and is now out of it).
bool removeSender(RecordList& list, ThreadRecord* sender) {
    if (sender->senderList != &list) return false;
    list.remove(sender, &ThreadRecord::senderLinks);
    sender->senderList = nullptr;
    return true;
}

ThreadRecord* takeFirstSender(RecordList& list) {
    ThreadRecord* first = list.head;
    if (first) removeSender(list, first);
    return first;
}

// Lets every sender in list return from send without an answer; each gets its
// own id back and its message unchanged.
void releaseSenders(RecordList& list) {
    while (ThreadRecord* sender = takeFirstSender(list)) sender->wake.release();
}

bool isBlocked(uint32_t state) {
    return state == ThreadLib::kStateSending || state == ThreadLib::kStateReceiving ||
           state == ThreadLib::kStateAwaitingReply;
}

void copyWords(const ThreadMessage& from, ThreadMessage& to) {
    to.word1 = from.word1;
    to.word2 = from.word2;
    to.word3 = from.word3;
}

// Waits, with the global lock given up, until kill has finished running the
// record's cancel action.
void waitForCancelAction(GlobalGuard& guard, ThreadRecord* record) {
    while (record->actionRunning) {
        guard.unlock();
        record->actionDone.wait();
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
// out of the table, its senders released, its record freed and its handle
// left for the next createThread or shutdown to join.
void finishThread(LibraryState& state, ThreadRecord* record) {
    // Destroyed after the lock is given up: what the action captured is the
    // thread's business, not the library's.
    std::function<void()> leftover;
    GlobalGuard guard(state);
    waitForCancelAction(guard, record);
    leftover = std::move(record->cancelAction);
    unregisterRecord(state, record);
    record->state = ThreadLib::kStateEnded;
    releaseSenders(record->pending);
    releaseSenders(record->unanswered);
    ThreadHandle* handle = record->handle;
    handle->next = state.finished;
    state.finished = handle;
    delete record;
    if (--state.liveThreads == 0) state.threadEnded.release();
}

void runThread(LibraryState* state, ThreadRecord* record) {
    record->start.wait();
    bool run = false;
    std::function<uint32_t()> entry;
    {
        GlobalGuard guard(*state);
        run = record->resumed;
        entry = std::move(record->entry);
        t_currentId = record->id;
    }
    if (run) {
        try {
            entry();
        } catch (...) {
            reportCrash();
        }
    }
    entry = nullptr;
    finishThread(*state, record);
    t_currentId = 0;
}

// Joins the threads that have handed themselves over. They have nothing left
// to do but return, so this never waits for long.
void joinFinished(LibraryState& state) {
    ThreadHandle* handle = nullptr;
    {
        GlobalGuard guard(state);
        handle = state.finished;
        state.finished = nullptr;
    }
    while (handle) {
        ThreadHandle* next = handle->next;
        if (handle->thread.joinable()) handle->thread.join();
        delete handle;
        handle = next;
    }
}

// A library thread that is not cancelled yet, 0 when there is none.
uint32_t findUncancelledThread(LibraryState& state) {
    GlobalGuard guard(state);
    ReadGuard tableGuard(state.tableLock);
    for (const RecordList& bucket : state.buckets) {
        for (ThreadRecord* record = bucket.head; record; record = record->tableLinks.next) {
            if (record->handle && !record->cancelled) return record->id;
        }
    }
    return 0;
}

uint32_t receiveMessage(ThreadMessage& message, bool timed, uint32_t milliseconds) {
    LibraryState* state = libraryState();
    if (!state) return 0;
    GlobalGuard guard(*state);
    ThreadRecord* self = findRecord(*state, t_currentId);
    if (!self || self->cancelled) return 0;
    message.word1 = 0;
    message.word2 = 0;
    message.word3 = 0;

    if (ThreadRecord* sender = takeFirstSender(self->pending)) {
        if (sender->state != ThreadLib::kStateSending || !sender->buffer) {
            sender->wake.release();
            return 0;
        }
        copyWords(*sender->buffer, message);
        appendSender(self->unanswered, sender);
        sender->state = ThreadLib::kStateAwaitingReply;
        return message.word1;
    }

    self->buffer = &message;
    self->state = ThreadLib::kStateReceiving;
    message.bufferLock.release();
    guard.unlock();
    if (timed) {
        self->wake.waitTimed(milliseconds);
    } else {
        self->wake.wait();
    }
    guard.lock();
    // Every release of the wake semaphore happens under the global lock while
    // the thread is blocked; a second one (a delivery and a kill) or one that
    // came after a time-out must not be left for the next wait.
    self->wake.waitTimed(0);
    // Closing the buffer again tells whether a sender filled it: a sender
    // takes the lock before it writes.
    const bool delivered = message.bufferLock.waitTimed(0) == 0;
    self->state = ThreadLib::kStateRunning;
    self->buffer = nullptr;
    // A sender that filled the buffer before a kill was released by the kill.
    if (self->cancelled || !delivered) return 0;
    return message.word1;
}

uint32_t replyMessage(uint32_t senderId, uint32_t receiverId, ThreadMessage& message) {
    LibraryState* state = libraryState();
    if (!state) return 0;
    GlobalGuard guard(*state);
    message.word1 = t_currentId;
    ThreadRecord* self = findRecord(*state, t_currentId);
    // A cancelled thread's answer would race with the one its canceller gives
    // (a stopping service answers its killed workers' requesters with 0).
    if (!self || self->cancelled) return 0;
    ThreadRecord* sender = findRecord(*state, senderId);
    ThreadRecord* receiver = findRecord(*state, receiverId);
    if (!sender || !receiver || sender->sendTarget != receiverId) return 0;
    if (!removeSender(receiver->unanswered, sender)) return 0;
    if (sender->state != ThreadLib::kStateAwaitingReply || !sender->buffer) return 0;
    copyWords(message, *sender->buffer);
    sender->answered = true;
    sender->wake.release();
    return 1;
}

} // namespace

uint32_t ThreadLib::init() {
    SemaphoreLock lifecycle(lifecycleLock());
    LibraryState* state = libraryState();
    bool madeState = false;
    if (!state) {
        state = new (std::nothrow) LibraryState;
        if (!state) return 0;
        g_state.store(state, std::memory_order_release);
        madeState = true;
    }
    GlobalGuard guard(*state);
    if (ThreadRecord* own = findRecord(*state, t_currentId)) return own->id;
    ThreadRecord* record = new (std::nothrow) ThreadRecord;
    if (!record) {
        if (madeState) {
            guard.unlock();
            g_state.store(nullptr, std::memory_order_release);
            delete state;
        }
        return 0;
    }
    record->id = nextId();
    record->state = kStateRunning;
    record->resumed = true;
    registerRecord(*state, record);
    t_currentId = record->id;
    return record->id;
}

void ThreadLib::shutdown() {
    SemaphoreLock lifecycle(lifecycleLock());
    LibraryState* state = libraryState();
    if (!state) return;

    // kill takes the global lock itself and may run cancel actions, so the
    // threads are picked one at a time.
    while (const uint32_t id = findUncancelledThread(*state)) kill(id);
    {
        GlobalGuard guard(*state);
        while (state->liveThreads != 0) {
            guard.unlock();
            state->threadEnded.wait();
            guard.lock();
        }
    }
    joinFinished(*state);

    // What is left are threads registered by init.
    {
        GlobalGuard guard(*state);
        for (RecordList& bucket : state->buckets) {
            while (ThreadRecord* record = bucket.head) {
                unregisterRecord(*state, record);
                delete record;
            }
        }
    }
    g_state.store(nullptr, std::memory_order_release);
    delete state;
    t_currentId = 0;
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
    LibraryState* state = libraryState();
    if (!state || !entry) return 0;
    joinFinished(*state);

    ThreadRecord* record = new (std::nothrow) ThreadRecord;
    ThreadHandle* handle = new (std::nothrow) ThreadHandle;
    if (!record || !handle) {
        delete record;
        delete handle;
        return 0;
    }
    record->id = nextId();
    record->state = kStateCreated;
    record->entry = std::move(entry);
    record->handle = handle;

    GlobalGuard guard(*state);
    // The thread starts at once but waits for its start signal before it
    // touches anything, which is what "suspended" means here.
    try {
        handle->thread = std::thread(runThread, state, record);
    } catch (...) {
        delete record;
        delete handle;
        return 0;
    }
    registerRecord(*state, record);
    ++state->liveThreads;
    return record->id;
}

uint32_t ThreadLib::resume(uint32_t id) {
    LibraryState* state = libraryState();
    if (!state) return 0;
    GlobalGuard guard(*state);
    ThreadRecord* record = findRecord(*state, id);
    if (!record || record->state != kStateCreated || record->resumed || record->cancelled) return 0;
    record->resumed = true;
    record->state = kStateRunning;
    record->start.release();
    return 1;
}

uint32_t ThreadLib::kill(uint32_t id) {
    LibraryState* state = libraryState();
    if (!state) return 0;
    ThreadRecord* record = nullptr;
    std::function<void()> action;
    bool othersWait = false;
    {
        GlobalGuard guard(*state);
        record = findRecord(*state, id);
        if (!record) return 0;
        if (record->cancelled) return 1;
        record->cancelled = true;
        releaseSenders(record->pending);
        releaseSenders(record->unanswered);
        if (isBlocked(record->state)) record->wake.release();
        // A thread never resumed ends without running its entry.
        if (record->state == kStateCreated && !record->resumed) record->start.release();
        if (!record->cancelAction) return 1;
        action = std::move(record->cancelAction);
        record->cancelAction = nullptr;
        // A thread that kills itself runs its own action and has nobody to wait for.
        othersWait = record->id != t_currentId;
        record->actionRunning = othersWait;
    }
    // Outside the lock: the action typically closes a socket or releases a
    // wait, and may well call back into the library.
    runCancelAction(action);
    action = nullptr;
    if (othersWait) {
        // The record cannot be gone: its thread waits for actionRunning to
        // clear before it ends (and shutdown waits for every thread to end).
        GlobalGuard guard(*state);
        record->actionRunning = false;
        record->actionDone.release();
    }
    return 1;
}

uint32_t ThreadLib::send(uint32_t id, ThreadMessage& message) {
    LibraryState* state = libraryState();
    if (!state) return 0;
    GlobalGuard guard(*state);
    message.word1 = t_currentId;
    ThreadRecord* self = findRecord(*state, t_currentId);
    ThreadRecord* target = findRecord(*state, id);
    // A thread sending to itself would wait for ever.
    if (!self || !target || target == self || target->state == kStateEnded || target->cancelled || self->cancelled) {
        return 0;
    }
    self->buffer = &message;
    self->sendTarget = id;
    self->answered = false;
    // A receiving target whose buffer lock is already taken has been filled by
    // another sender and is about to wake: this one queues.
    if (target->state == kStateReceiving && target->buffer && target->buffer->bufferLock.waitTimed(0) == 1) {
        copyWords(message, *target->buffer);
        appendSender(target->unanswered, self);
        target->wake.release();
        self->state = kStateAwaitingReply;
    } else {
        appendSender(target->pending, self);
        self->state = kStateSending;
    }
    guard.unlock();
    self->wake.wait();
    guard.lock();
    self->wake.waitTimed(0);
    // Woken by a kill of this thread: still queued on the target.
    if (self->senderList) removeSender(*self->senderList, self);
    const uint32_t result = (self->cancelled && !self->answered) ? 0 : message.word1;
    self->state = kStateRunning;
    self->sendTarget = 0;
    self->buffer = nullptr;
    self->answered = false;
    return result;
}

uint32_t ThreadLib::receive(ThreadMessage& message) { return receiveMessage(message, false, 0); }

uint32_t ThreadLib::receiveTimed(ThreadMessage& message, uint32_t milliseconds) {
    return receiveMessage(message, true, milliseconds);
}

uint32_t ThreadLib::reply(uint32_t id, ThreadMessage& message) { return replyMessage(id, t_currentId, message); }

uint32_t ThreadLib::replyFrom(uint32_t id, uint32_t receiverId, ThreadMessage& message) {
    return replyMessage(id, receiverId, message);
}

uint32_t ThreadLib::currentId() { return t_currentId; }

uint32_t ThreadLib::stateOf(uint32_t id) {
    LibraryState* state = libraryState();
    if (!state) return kStateEnded;
    GlobalGuard guard(*state);
    const ThreadRecord* record = findRecord(*state, id);
    return record ? record->state : kStateEnded;
}

uint32_t ThreadLib::threadCount() {
    LibraryState* state = libraryState();
    if (!state) return 0;
    ReadGuard guard(state->tableLock);
    return state->threadCount;
}

uint32_t ThreadLib::setCancelAction(std::function<void()> action) {
    LibraryState* state = libraryState();
    if (!state) return 0;
    std::function<void()> previous;
    GlobalGuard guard(*state);
    ThreadRecord* self = findRecord(*state, t_currentId);
    if (!self) return 0;
    waitForCancelAction(guard, self);
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
    LibraryState* state = libraryState();
    if (!state) return;
    std::function<void()> previous;
    GlobalGuard guard(*state);
    ThreadRecord* self = findRecord(*state, t_currentId);
    if (!self) return;
    waitForCancelAction(guard, self);
    previous = std::move(self->cancelAction);
    self->cancelAction = nullptr;
    guard.unlock();
}

bool ThreadLib::isCancelled() {
    LibraryState* state = libraryState();
    if (!state) return false;
    GlobalGuard guard(*state);
    const ThreadRecord* self = findRecord(*state, t_currentId);
    return self && self->cancelled;
}

void ThreadLib::setCrashReporter(CrashReporter reporter) { g_crashReporter.store(reporter); }

} // namespace vp
