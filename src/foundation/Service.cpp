#include "foundation/Service.h"

#include <chrono>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace vp {

namespace {

// Set when the calling worker has answered its requester through answer():
// a handler that throws afterwards must not be answered a second time.
thread_local bool t_answered = false;

ByteBuffer idKey(uint32_t id) { return ByteBuffer(&id, sizeof id); }

uint32_t readId(const ByteBuffer& field) {
    uint32_t value = 0;
    if (field.size() == sizeof value) std::memcpy(&value, field.data(), sizeof value);
    return value;
}

const std::uintptr_t* readArguments(const ByteBuffer& field) {
    std::uintptr_t value = 0;
    if (field.size() == sizeof value) std::memcpy(&value, field.data(), sizeof value);
    return reinterpret_cast<const std::uintptr_t*>(value);
}

// Runs a hook or a call on the service thread: its result, or 0 when it ran
// out of memory. The thread lives on and answers, where the exception would
// end it and let its requester go with the word it was sent with.
template <typename Run>
uint32_t zeroOnNoMemory(const Run& run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

} // namespace

namespace detail {

bool ServiceCore::accepts(std::uintptr_t code) const {
    // Starting and stopping go through start and stop alone, which keep the
    // flags and the request table in step with the service thread.
    return m_stopping.load() == 0 && code != kStartCode && code != kStopCode;
}

uint32_t ServiceCore::post(uint32_t argumentCount, const std::uintptr_t* arguments) {
    if (argumentCount == 0 || !arguments || !accepts(arguments[0])) return 0;
    return deliver(argumentCount, reinterpret_cast<std::uintptr_t>(arguments));
}

uint32_t ServiceCore::postCall(const RequestCall& request) {
    // An argument list holds its code at least, so a count of 0 marks a call.
    // A call let go unanswered (the thread ended) keeps that 0 as its result.
    if (!accepts(request.code)) return 0;
    return deliver(0, reinterpret_cast<std::uintptr_t>(&request));
}

uint32_t ServiceCore::deliver(std::uintptr_t word2, std::uintptr_t word3) {
    const uint32_t thread = m_serviceThreadId.load();
    if (thread == 0) return 0;
    ThreadMessage message;
    message.word2 = word2;
    message.word3 = word3;
    if (ThreadLib::send(thread, message) == 0) return 0;
    return static_cast<uint32_t>(message.word2);
}

uint32_t ServiceCore::launch() {
    const uint32_t thread = ThreadLib::createThread(&ServiceCore::threadEntry, reinterpret_cast<std::uintptr_t>(this));
    if (thread == 0) return 0;
    m_stopping.store(0);
    m_serviceThreadId.store(thread);
    ThreadLib::resume(thread);
    const std::uintptr_t startRequest[] = {kStartCode};
    const uint32_t result = deliver(1, reinterpret_cast<std::uintptr_t>(startRequest));
    if (result == 0) {
        // A refused start has ended the thread already; a start request that
        // never arrived (the caller is unknown to ThreadLib) has not.
        ThreadLib::kill(thread);
        m_serviceThreadId.store(0);
    }
    return result;
}

uint32_t ServiceCore::halt() {
    // Set here as well as on the service thread, so that no post slips in
    // between this request and the thread's reading of it.
    m_stopping.store(1);
    const std::uintptr_t stopRequest[] = {kStopCode};
    const uint32_t thread = m_serviceThreadId.load();
    const uint32_t result = deliver(1, reinterpret_cast<std::uintptr_t>(stopRequest));
    // The thread has ended unless the stop request never arrived.
    if (result == 0) ThreadLib::kill(thread);
    m_serviceThreadId.store(0);
    m_started = 0;
    m_stopping.store(0);
    return result;
}

uint32_t ServiceCore::answerFrom(uint32_t sender, uint32_t receiver, uint32_t result) {
    ThreadMessage reply;
    reply.word2 = result;
    return ThreadLib::replyFrom(sender, receiver, reply);
}

void ServiceCore::refuseQueued() {
    const uint32_t self = ThreadLib::currentId();
    ThreadMessage message;
    while (const uint32_t sender = ThreadLib::receiveTimed(message, 0)) answerFrom(sender, self, 0);
}

uint32_t ServiceCore::threadEntry(std::uintptr_t service) {
    return reinterpret_cast<ServiceCore*>(service)->serviceLoop();
}

uint32_t ServiceCore::serviceLoop() {
    const uint32_t self = ThreadLib::currentId();
    ThreadMessage message;
    for (;;) {
        const uint32_t sender = ThreadLib::receive(message);
        if (sender == 0) {
            // Every later receive of a cancelled thread fails at once.
            if (ThreadLib::isCancelled()) return 0;
            continue;
        }
        const auto argumentCount = static_cast<uint32_t>(message.word2);
        const auto* arguments = reinterpret_cast<const std::uintptr_t*>(message.word3);
        if (!arguments) {
            answerFrom(sender, self, 0);
            continue;
        }
        if (argumentCount == 0) {
            const auto& request = *reinterpret_cast<const RequestCall*>(message.word3);
            answerFrom(sender, self, zeroOnNoMemory([&] { return request.invoke(request.run); }));
            continue;
        }
        if (arguments[0] == kStartCode) {
            m_stopping.store(0);
            const uint32_t result = zeroOnNoMemory([this] { return startRequested(); });
            answerFrom(sender, self, result);
            if (result == 0) return 0;
        } else if (arguments[0] == kStopCode) {
            m_stopping.store(1);
            const uint32_t result = zeroOnNoMemory([this] { return stopRequested(); });
            // Otherwise the thread's end would let them go unanswered.
            refuseQueued();
            answerFrom(sender, self, result);
            return 1;
        } else {
            requestArrived(sender, argumentCount, arguments);
        }
    }
}

} // namespace detail

// Removes the worker's record and counts it out however the handler left.
class Service::WorkerExit {
public:
    explicit WorkerExit(Service& service) : m_service(service) {}
    ~WorkerExit() {
        m_service.removeRequest();
        m_service.workerEnded();
    }
    WorkerExit(const WorkerExit&) = delete;
    WorkerExit& operator=(const WorkerExit&) = delete;

private:
    Service& m_service;
};

Service::~Service() {
    if (m_started) stop();
    for (;;) {
        {
            SemaphoreLock lock(m_lock);
            if (m_workerCount == 0) break;
        }
        m_workerEnded.wait();
    }
    m_requests.reset();
}

uint32_t Service::start() {
    if (m_started) return 0;
    if (!provideTable()) {
        m_started = 0;
        return 0;
    }
    m_started = launch();
    if (!m_started) retireTable();
    return m_started;
}

uint32_t Service::stop() {
    if (!m_started) return 1;
    const uint32_t result = halt();
    retireTable();
    return result;
}

uint32_t Service::handleRequest(uint32_t sender, uint32_t, const std::uintptr_t*) {
    answer(sender, 0);
    return 0;
}

uint32_t Service::onStart() { return 1; }

uint32_t Service::onStop() { return 1; }

void Service::killWorkers() {
    KeyedTable* table = requestTable();
    if (!table) return;
    std::vector<FieldTuple> rows = table->snapshot();
    // The stop answers exactly the requests that no worker has answered yet.
    // A requester that was answered may already be waiting on another request
    // to this service (the stop itself, say); answering it by its thread id
    // would answer that one instead. The claimed rows are moved to the front,
    // so that remembering them needs no memory.
    size_t claimed = 0;
    {
        SemaphoreLock lock(m_answerLock);
        for (FieldTuple& row : rows) {
            if (claimRequest(*table, readId(row.field(kWorkerField)))) std::swap(rows[claimed++], row);
        }
    }
    // Only now, with every unanswered request claimed, are the workers
    // cancelled: a worker that claimed its request first delivers its answer
    // before the kill can suppress it.
    for (const FieldTuple& row : rows) ThreadLib::kill(readId(row.field(kWorkerField)));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_stopWaitMilliseconds.load());
    for (;;) {
        bool running = false;
        for (const FieldTuple& row : rows) {
            if (table->find(kWorkerField, row.field(kWorkerField)).count() != 0) running = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!running || now >= deadline) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        m_workerEnded.waitTimed(static_cast<uint32_t>(left) + 1);
    }
    for (size_t i = 0; i < claimed; ++i) {
        ThreadMessage reply;
        ThreadLib::reply(readId(rows[i].field(kSenderField)), reply);
    }
}

bool Service::claimRequest(KeyedTable& table, uint32_t worker) {
    // Called with m_answerLock held. The sender field goes to 0 once the
    // request is taken; the worker's row stays until the worker ends, so that
    // the stop can wait for it.
    const FieldTuple row = table.find(kWorkerField, idKey(worker));
    if (row.count() < kRequestFields || readId(row.field(kSenderField)) == 0) return false;
    return table.update(kWorkerField, idKey(worker), kSenderField, idKey(0)) == 1;
}

uint32_t Service::addRequest(const FieldTuple& record) {
    KeyedTable* table = requestTable();
    return table ? table->insert(record) : 0;
}

void Service::removeRequest() {
    // The rows are keyed by the worker, which is the calling thread.
    KeyedTable* table = requestTable();
    if (!table) return;
    const ByteBuffer key = idKey(ThreadLib::currentId());
    while (table->remove(kWorkerField, key).count() != 0) {
    }
}

uint32_t Service::answer(uint32_t sender, uint32_t result) {
    t_answered = true;
    KeyedTable* table = requestTable();
    // A request the stop has taken over is answered by the stop alone. The
    // answer is delivered under the lock, before the stop can claim and kill.
    SemaphoreLock lock(m_answerLock);
    if (!table || !claimRequest(*table, ThreadLib::currentId())) return 0;
    return answerFrom(sender, m_serviceThreadId.load(), result);
}

uint32_t Service::workerEntry(std::uintptr_t service) { return reinterpret_cast<Service*>(service)->runWorker(); }

uint32_t Service::startRequested() { return onStart(); }

uint32_t Service::stopRequested() {
    killWorkers();
    return onStop();
}

void Service::requestArrived(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* arguments) {
    {
        SemaphoreLock lock(m_lock);
        ++m_workerCount;
    }
    const uint32_t worker = ThreadLib::createThread(&Service::workerEntry, reinterpret_cast<std::uintptr_t>(this));
    FieldTuple record(kRequestFields);
    const auto address = reinterpret_cast<std::uintptr_t>(arguments);
    const bool made = worker != 0 && record.count() == kRequestFields &&
                      record.setField(kWorkerField, idKey(worker)) && record.setField(kSenderField, idKey(sender)) &&
                      record.setField(kCountField, idKey(argumentCount)) &&
                      record.setField(kArgumentsField, ByteBuffer(&address, sizeof address));
    if (made && addRequest(record)) {
        ThreadLib::resume(worker);
        return;
    }
    // A worker that is never resumed ends without running, so it is counted
    // out here; the requester is not left waiting.
    if (worker != 0) ThreadLib::kill(worker);
    workerEnded();
    answerFrom(sender, ThreadLib::currentId(), 0);
}

uint32_t Service::runWorker() {
    t_answered = false;
    KeyedTable* table = requestTable();
    const FieldTuple record =
        table ? table->find(kWorkerField, idKey(ThreadLib::currentId())) : FieldTuple();
    WorkerExit exit(*this);
    if (record.count() < kRequestFields) return 0;
    const uint32_t sender = readId(record.field(kSenderField));
    try {
        return handleRequest(sender, readId(record.field(kCountField)), readArguments(record.field(kArgumentsField)));
    } catch (...) {
        // The requester would otherwise wait until the service stops. The
        // exception goes on to the thread library, which reports the crash.
        if (!t_answered) answer(sender, 0);
        throw;
    }
}

void Service::workerEnded() {
    SemaphoreLock lock(m_lock);
    --m_workerCount;
    if (m_workerCount == 0 && !m_tableWanted) m_requests.reset();
    m_workerEnded.release();
}

KeyedTable* Service::requestTable() {
    SemaphoreLock lock(m_lock);
    return m_requests.get();
}

uint32_t Service::provideTable() {
    SemaphoreLock lock(m_lock);
    // Workers that outlived the last stop may still hold the old table; it
    // serves again, their rows are keyed by ids that are never reused.
    if (!m_requests) {
        m_requests.reset(new (std::nothrow) KeyedTable(kRequestKeyColumns, KeyedTable::kDefaultBucketCount));
        if (!m_requests || m_requests->bucketCount() == 0) {
            m_requests.reset();
            return 0;
        }
    }
    m_tableWanted = true;
    return 1;
}

void Service::retireTable() {
    SemaphoreLock lock(m_lock);
    m_tableWanted = false;
    if (m_workerCount == 0) m_requests.reset();
}

} // namespace vp
