#include "foundation/ThreadTable.h"

#include <atomic>
#include <utility>

namespace vp::threadlib {

namespace {

// The owner, changed only by init and shutdown (under their lock); g_table
// lets every other call see the table without taking that lock.
std::unique_ptr<ThreadTable> g_owner;
std::atomic<ThreadTable*> g_table{nullptr};
std::atomic<uint32_t> g_lastId{0};
thread_local uint32_t t_currentId = 0;

} // namespace

void SenderQueue::append(ThreadRecord& sender) {
    sender.queue = this;
    sender.queuePrevious = m_tail;
    sender.queueNext = nullptr;
    (m_tail ? m_tail->queueNext : m_head) = &sender;
    m_tail = &sender;
}

bool SenderQueue::remove(ThreadRecord& sender) {
    if (sender.queue != this) return false;
    (sender.queuePrevious ? sender.queuePrevious->queueNext : m_head) = sender.queueNext;
    (sender.queueNext ? sender.queueNext->queuePrevious : m_tail) = sender.queuePrevious;
    sender.queue = nullptr;
    sender.queuePrevious = nullptr;
    sender.queueNext = nullptr;
    return true;
}

ThreadRecord* SenderQueue::takeFirst() {
    ThreadRecord* first = m_head;
    if (first) remove(*first);
    return first;
}

RecordChain::~RecordChain() {
    while (takeFirst()) {
    }
}

void RecordChain::push(std::unique_ptr<ThreadRecord> record) {
    record->chainNext = std::move(m_head);
    m_head = std::move(record);
}

std::unique_ptr<ThreadRecord> RecordChain::take(const ThreadRecord& record) {
    std::unique_ptr<ThreadRecord>* link = &m_head;
    while (*link && link->get() != &record) link = &(*link)->chainNext;
    if (!*link) return nullptr;
    std::unique_ptr<ThreadRecord> taken = std::move(*link);
    *link = std::move(taken->chainNext);
    return taken;
}

std::unique_ptr<ThreadRecord> RecordChain::takeFirst() {
    if (!m_head) return nullptr;
    std::unique_ptr<ThreadRecord> taken = std::move(m_head);
    m_head = std::move(taken->chainNext);
    return taken;
}

ThreadRecord* RecordChain::next(const ThreadRecord& record) { return record.chainNext.get(); }

ThreadTable* currentTable() { return g_table.load(std::memory_order_acquire); }

// The table holds 1999 buckets and the semaphores, whose construction may
// fail as well as the allocation; init reports either as 0.
ThreadTable* createTable() {
    try {
        g_owner = std::make_unique<ThreadTable>();
    } catch (...) {
        return nullptr;
    }
    g_table.store(g_owner.get(), std::memory_order_release);
    return g_owner.get();
}

void destroyTable() {
    g_table.store(nullptr, std::memory_order_release);
    g_owner.reset();
}

uint32_t currentThreadId() { return t_currentId; }

void setCurrentThreadId(uint32_t id) { t_currentId = id; }

uint32_t nextId() {
    uint32_t id = 0;
    while (id == 0) id = g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

ThreadRecord* findRecord(ThreadTable& table, uint32_t id) {
    if (id == 0) return nullptr;
    ReadGuard guard(table.tableLock);
    for (ThreadRecord* record = table.buckets[ThreadLib::bucketOf(id)].first(); record;
         record = RecordChain::next(*record)) {
        if (record->id == id) return record;
    }
    return nullptr;
}

ThreadRecord& registerRecord(ThreadTable& table, std::unique_ptr<ThreadRecord> record) {
    ThreadRecord& registered = *record;
    WriteGuard guard(table.tableLock);
    table.buckets[ThreadLib::bucketOf(registered.id)].push(std::move(record));
    ++table.threadCount;
    return registered;
}

std::unique_ptr<ThreadRecord> unregisterRecord(ThreadTable& table, const ThreadRecord& record) {
    WriteGuard guard(table.tableLock);
    std::unique_ptr<ThreadRecord> taken = table.buckets[ThreadLib::bucketOf(record.id)].take(record);
    if (taken) --table.threadCount;
    return taken;
}

} // namespace vp::threadlib
