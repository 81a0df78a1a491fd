#pragma once
// The system's own thread layer. Every thread it knows has a record in a
// shared table, and threads talk by synchronous messages: a sender blocks
// until the receiver has taken its message and answered it (or has ended).
//
// Ids are the library's own numbers, counted from 1 and never reused within a
// process, so an id kept after its thread ended names nobody rather than some
// newer thread.
//
// No thread is ever terminated from outside. kill marks a thread cancelled,
// runs the cancel action the thread registered (which releases whatever the
// thread is waiting on), wakes it from send and receive, and lets it end.

#include "foundation/Semaphore.h"

#include <cstdint>
#include <functional>
#include <utility>

namespace vp {

// One message of a send, receive or reply, owned by the caller (usually on its
// stack) and not copyable.
struct ThreadMessage {
    // Opened by receive while it waits; a sender writes into the message only
    // after taking it, so of several senders exactly one fills the buffer.
    Semaphore bufferLock;
    // The sending thread's id once received, the answering thread's id once
    // answered.
    uint32_t word1 = 0;
    // Payload. Pointer-sized: the services carry the address of an argument
    // list in word 3.
    std::uintptr_t word2 = 0;
    std::uintptr_t word3 = 0;
};

class ThreadLib {
public:
    using Entry = uint32_t (*)(std::uintptr_t argument);
    using CrashReporter = void (*)(const char* source, const char* text);

    static constexpr uint32_t kBucketCount = 1999;

    // Thread states.
    static constexpr uint32_t kStateEnded = 0;
    static constexpr uint32_t kStateCreated = 1;        // suspended until resume
    static constexpr uint32_t kStateRunning = 2;
    static constexpr uint32_t kStateSending = 3;        // waiting to be received
    static constexpr uint32_t kStateReceiving = 4;
    static constexpr uint32_t kStateAwaitingReply = 5;  // received, not yet answered

    // Creates the library state when needed and registers the calling thread;
    // its id, or 0 when memory ran out. A registered caller gets its id again.
    static uint32_t init();
    // Cancels every library thread still there (as kill does), waits until all
    // have ended, joins them and frees the state. Call it from a thread that is
    // not a library thread; init may follow again.
    static void shutdown();

    // A suspended thread that will run entry(argument) once resumed; its id,
    // or 0 with nothing left behind.
    static uint32_t createThread(Entry entry, std::uintptr_t argument);
    static uint32_t createThread(std::function<uint32_t()> entry);
    // Starts a created thread: 1 when it was created, not yet resumed and not
    // cancelled.
    static uint32_t resume(uint32_t id);
    // Cancels the thread: 1 when it was found, else 0. See the top of the file.
    static uint32_t kill(uint32_t id);

    // Blocks until thread id has received message and answered it. The
    // answering thread's id (word 1 after the answer); the sender's own id when
    // the target ended or was cancelled first (the message is then unchanged);
    // 0 when either thread is unknown, the target is cancelled, or the caller
    // was cancelled before an answer came.
    static uint32_t send(uint32_t id, ThreadMessage& message);
    // Blocks until a message arrives: the sender's id, with words 2 and 3 of
    // message holding the sender's. 0 when the caller is unknown or cancelled.
    static uint32_t receive(ThreadMessage& message);
    // As receive, giving up after milliseconds with 0.
    static uint32_t receiveTimed(ThreadMessage& message, uint32_t milliseconds);
    // Answers sender id, whose message the calling thread received: words 2
    // and 3 go back to it. 1 when delivered.
    static uint32_t reply(uint32_t id, ThreadMessage& message);
    // As reply, on behalf of receiverId (the thread the sender sent to), so a
    // worker can answer what its service thread received.
    static uint32_t replyFrom(uint32_t id, uint32_t receiverId, ThreadMessage& message);

    // The calling thread's id, 0 when it is not registered.
    static uint32_t currentId();
    // The state of thread id, kStateEnded when it is not registered.
    static uint32_t stateOf(uint32_t id);
    // Registered threads.
    static uint32_t threadCount();

    // What kill runs for the calling thread, outside every library lock,
    // replacing any earlier action. When the thread is cancelled already the
    // action runs at once. 1, or 0 when the caller is not registered.
    static uint32_t setCancelAction(std::function<void()> action);
    // Removes the calling thread's action; when kill is running it right now,
    // waits until it has finished, so that what it refers to may then go.
    static void clearCancelAction();
    // Whether the calling thread has been cancelled.
    static bool isCancelled();

    // Where a crash is reported instead of the system event log; nullptr
    // restores the event log.
    static void setCrashReporter(CrashReporter reporter);

    // The table bucket of a thread id.
    static uint32_t bucketOf(uint32_t id) { return ((id >> 3) * 2654435761u) % kBucketCount; }
};

// Registers a cancel action for the calling thread for the guard's lifetime.
class ScopedCancelAction {
public:
    explicit ScopedCancelAction(std::function<void()> action) { ThreadLib::setCancelAction(std::move(action)); }
    ~ScopedCancelAction() { ThreadLib::clearCancelAction(); }
    ScopedCancelAction(const ScopedCancelAction&) = delete;
    ScopedCancelAction& operator=(const ScopedCancelAction&) = delete;
};

} // namespace vp
