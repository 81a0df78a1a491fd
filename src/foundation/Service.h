#pragma once
// Request services. A Service runs every request on a fresh worker thread; a
// SerialService (SerialService.h) runs them one after another on its own
// service thread. Other threads hand requests over with post and block until
// the request's handler answers.
//
// A request is an argument list of pointer-sized values, the request code
// first, or a typed call (ServiceCore::call) that the service thread runs
// itself. Code 0 starts and code 1 stops the service thread; the codes of a
// service's own requests are 2 and up. Every thread that posts must be known
// to ThreadLib (a library thread, or one that called ThreadLib::init). A start
// or stop hook, or a call, that runs out of memory gives 0 to its requester.

#include "foundation/FieldTuple.h"
#include "foundation/KeyedTable.h"
#include "foundation/Semaphore.h"
#include "foundation/ThreadLib.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace vp {

namespace detail {

template <typename T>
constexpr bool kIsRequestCode = std::is_integral_v<T> || std::is_enum_v<T>;
template <typename T>
constexpr bool kIsRequestArgument = kIsRequestCode<T> || std::is_pointer_v<T>;

template <typename T>
std::uintptr_t toArgument(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<std::uintptr_t>(value);
    } else {
        return static_cast<std::uintptr_t>(value);
    }
}

// What Service and SerialService share: the service thread, the stopping
// flag, and the posting of requests to the thread.
class ServiceCore {
public:
    static constexpr std::uintptr_t kStartCode = 0;
    static constexpr std::uintptr_t kStopCode = 1;

    // Hands the request (code, further...) to the service thread and blocks
    // until its handler answers: the handler's result. 0 at once when the
    // service is stopping or not started, when argumentCount is 0 or larger
    // than the arguments given, or when code is 0 or 1; 0 also when the
    // request was queued as the service stopped. When the service thread
    // ends with the request still waiting (a SerialService handler threw),
    // the request is let go unanswered and the result is argumentCount, the
    // word 2 it was sent with.
    template <typename Code, typename... Arguments>
        requires(kIsRequestCode<Code> && (kIsRequestArgument<Arguments> && ...))
    uint32_t post(uint32_t argumentCount, Code code, Arguments... further) {
        // The list lives on this stack until the handler has answered.
        const std::uintptr_t arguments[] = {toArgument(code), toArgument(further)...};
        if (argumentCount == 0 || argumentCount > 1 + sizeof...(further)) return 0;
        return post(argumentCount, arguments);
    }
    // The same with the argument list given whole.
    uint32_t post(uint32_t argumentCount, const std::uintptr_t* arguments);

    // The ThreadLib id of the service thread while started, else 0.
    uint32_t serviceThreadId() const { return m_serviceThreadId.load(); }
    // Nonzero while started.
    uint32_t started() const { return m_started; }

protected:
    ServiceCore() = default;
    virtual ~ServiceCore() = default;
    ServiceCore(const ServiceCore&) = delete;
    ServiceCore& operator=(const ServiceCore&) = delete;

    // Has the service thread run run() in turn with the other requests, and
    // blocks until it has: run's result. Refused as post refuses (stopping,
    // not started, code 0 or 1); 0 also when run ran out of memory. run stays
    // on this stack meanwhile, so it may refer to the caller's variables;
    // each request declares its arguments once, as what run uses.
    template <typename Run>
        requires std::is_invocable_r_v<uint32_t, const Run&>
    uint32_t call(std::uintptr_t code, const Run& run) {
        const RequestCall request{code, &invoke<Run>, &run};
        return postCall(request);
    }

    // Creates and resumes the service thread running the service loop, and
    // has it start: the thread's answer (onStart's result), or 0.
    uint32_t launch();
    // Has the service thread stop and end: its answer (onStop's result).
    uint32_t halt();
    // Answers sender on behalf of the service thread with word 2 = result.
    uint32_t answerFrom(uint32_t sender, uint32_t receiver, uint32_t result);
    // On the stopping service thread: answers every request still queued
    // with 0, as requests that came in while stopping.
    void refuseQueued();

    std::atomic<uint32_t> m_serviceThreadId{0};
    // Set from the stop request on; no request is accepted while it is set.
    std::atomic<uint32_t> m_stopping{0};
    uint32_t m_started = 0;

private:
    // A typed request as it travels: the code and run's type restored by invoke.
    struct RequestCall {
        std::uintptr_t code;
        uint32_t (*invoke)(const void* run);
        const void* run;
    };
    template <typename Run>
    static uint32_t invoke(const void* run) {
        return (*static_cast<const Run*>(run))();
    }
    uint32_t postCall(const RequestCall& request);
    // Whether a request with this code may go to the service thread now.
    bool accepts(std::uintptr_t code) const;

    // What each kind of service does with the requests its thread receives.
    // The start request: onStart's result (0 ends the thread).
    virtual uint32_t startRequested() = 0;
    // The stop request: onStop's result, after whatever must end first.
    virtual uint32_t stopRequested() = 0;
    // Any other request; it must be answered exactly once, now or later.
    virtual void requestArrived(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* arguments) = 0;

    static uint32_t threadEntry(std::uintptr_t service);
    // The service thread: receives requests until the stop request.
    uint32_t serviceLoop();
    // Sends words 2 and 3 to the service thread: its answer.
    uint32_t deliver(std::uintptr_t word2, std::uintptr_t word3);
};

} // namespace detail

class Service : public detail::ServiceCore {
public:
    static constexpr uint32_t kDefaultStopWaitMilliseconds = 5000;

    Service() = default;
    // Stops the service when it still runs, then waits without bound until
    // every worker has ended: every handler must honour cancellation. The
    // stop runs this class's own onStop and killWorkers, so a derived class
    // that overrides them (or handleRequest) stops the service in its own
    // destructor.
    virtual ~Service();

    // Creates the request table and the service thread and has it start: 0
    // when already started, else onStart's result (0 leaves nothing running).
    uint32_t start();
    // Has the service thread cancel its workers, answer their requesters with
    // 0 and stop: onStop's result, or 1 when not started. The service may be
    // started again.
    uint32_t stop();

    // How long stopping waits for cancelled workers to end.
    void setStopWaitLimit(uint32_t milliseconds) { m_stopWaitMilliseconds.store(milliseconds); }

protected:
    // Runs on the request's own worker thread. It must answer the requester
    // exactly once (answer(sender, result)), and copy every argument it needs
    // first: the list lives on the requester's stack. It must also end soon
    // once cancelled: register a cancel action (ScopedCancelAction) that
    // releases any wait that could last.
    virtual uint32_t handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args);
    // Runs on the service thread as it starts; 0 refuses the start.
    virtual uint32_t onStart();
    // Runs on the service thread as it stops, after the workers were cancelled.
    virtual uint32_t onStop();
    // Cancels every running worker, waits (bounded) for them to end and
    // answers each requester still waiting with 0.
    virtual void killWorkers();
    // Records a running request: 1, or 0 when it could not be stored.
    virtual uint32_t addRequest(const FieldTuple& record);
    // Drops the record of the calling worker.
    virtual void removeRequest();

    // Answers the requester sender with word 2 = result, on behalf of the
    // service thread that received its request: 1 when delivered (0 also when
    // the calling worker has been cancelled: the stop answers for it).
    uint32_t answer(uint32_t sender, uint32_t result);

    // The request record: worker id, sender id, argument count (4 bytes each)
    // and the argument pointer (pointer-sized), in native byte order.
    static constexpr uint32_t kRequestFields = 4;
    static constexpr uint32_t kRequestKeyColumns = 4;
    static constexpr uint32_t kWorkerField = 0;
    static constexpr uint32_t kSenderField = 1;
    static constexpr uint32_t kCountField = 2;
    static constexpr uint32_t kArgumentsField = 3;

private:
    class WorkerExit;

    uint32_t startRequested() override;
    uint32_t stopRequested() override;
    // Starts a worker for the request; the worker answers it.
    void requestArrived(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* arguments) override;

    static uint32_t workerEntry(std::uintptr_t service);
    uint32_t runWorker();
    void workerEnded();

    KeyedTable* requestTable();
    uint32_t provideTable();
    void retireTable();
    // Takes the request of worker for whoever answers it (the worker, or the
    // stop on its behalf): true when nobody had answered it yet. The caller
    // holds m_answerLock.
    bool claimRequest(KeyedTable& table, uint32_t worker);

    // Guards the table pointer, the worker count and whether the table is
    // wanted. The table goes once it is not wanted (stopped) and no worker
    // is left that might still use it.
    Semaphore m_lock{1, 1};
    std::unique_ptr<KeyedTable> m_requests;
    bool m_tableWanted = false;
    uint32_t m_workerCount = 0;
    // Released whenever a worker ends.
    Semaphore m_workerEnded;
    // Makes "not answered yet, so answer it" one step, between a worker
    // answering and the stop answering for it.
    Semaphore m_answerLock{1, 1};
    std::atomic<uint32_t> m_stopWaitMilliseconds{kDefaultStopWaitMilliseconds};
};

} // namespace vp
