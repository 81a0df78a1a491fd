#include "foundation/ThreadLib.h"

#include "support/AllocationWatch.h"
#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vp {
namespace {

using test::eventually;

bool reachesState(uint32_t id, uint32_t state) {
    return eventually([&] { return ThreadLib::stateOf(id) == state; });
}

bool ends(uint32_t id) { return reachesState(id, ThreadLib::kStateEnded); }

uint32_t startThread(std::function<uint32_t()> entry) {
    const uint32_t id = ThreadLib::createThread(std::move(entry));
    EXPECT_NE(id, 0u);
    EXPECT_EQ(ThreadLib::resume(id), 1u);
    return id;
}

// What a thread's send came back with.
struct SendOutcome {
    std::atomic<uint32_t> result{99};
    std::atomic<std::uintptr_t> word2{0};
    std::atomic<std::uintptr_t> word3{0};
    Semaphore done;

    bool arrived() { return done.waitTimed(5000) == 1; }
};

uint32_t startSender(uint32_t target, std::uintptr_t word2, SendOutcome& outcome) {
    return startThread([target, word2, &outcome] {
        ThreadMessage message;
        message.word2 = word2;
        // All high bits set: a payload cut to 32 bits on the way shows.
        message.word3 = ~std::uintptr_t{0} - word2;
        outcome.result = ThreadLib::send(target, message);
        outcome.word2 = message.word2;
        outcome.word3 = message.word3;
        outcome.done.release();
        return 0u;
    });
}

// Blocks the calling library thread until open() or a kill of the thread.
class Gate {
public:
    void pass() {
        ScopedCancelAction cancel([this] { m_signal.release(); });
        m_signal.wait();
    }
    void open() { m_signal.release(); }

private:
    Semaphore m_signal;
};

class ThreadLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_mainId = ThreadLib::init();
        ASSERT_NE(m_mainId, 0u);
    }
    void TearDown() override {
        ThreadLib::setCrashReporter(nullptr);
        ThreadLib::shutdown();
        EXPECT_EQ(ThreadLib::currentId(), 0u);
    }

    uint32_t m_mainId = 0;
};

TEST_F(ThreadLibTest, IdsAreTheLibrarysOwnRegistrationIsCountedAndAKillBeforeResumeEndsWithoutRunning) {
    EXPECT_EQ(ThreadLib::init(), m_mainId);
    EXPECT_EQ(ThreadLib::currentId(), m_mainId);
    EXPECT_EQ(ThreadLib::stateOf(m_mainId), ThreadLib::kStateRunning);
    const uint32_t before = ThreadLib::threadCount();

    std::atomic<uint32_t> seen{0};
    Gate gate;
    const uint32_t id = ThreadLib::createThread([&] {
        seen = ThreadLib::currentId();
        gate.pass();
        return 0u;
    });
    ASSERT_NE(id, 0u);
    EXPECT_NE(id, m_mainId);
    EXPECT_EQ(ThreadLib::stateOf(id), ThreadLib::kStateCreated);
    EXPECT_EQ(ThreadLib::threadCount(), before + 1);
    EXPECT_EQ(ThreadLib::resume(id), 1u);
    EXPECT_EQ(ThreadLib::resume(id), 0u);
    ASSERT_TRUE(eventually([&] { return seen != 0; }));
    EXPECT_EQ(seen, id);
    gate.open();
    ASSERT_TRUE(ends(id));
    EXPECT_EQ(ThreadLib::threadCount(), before);

    // A thread killed before it was resumed never runs, and its waiting
    // sender is released with its own id.
    std::atomic<bool> ran{false};
    const uint32_t next = ThreadLib::createThread([&] {
        ran = true;
        return 0u;
    });
    EXPECT_GT(next, id);
    SendOutcome outcome;
    const uint32_t sender = startSender(next, 4, outcome);
    ASSERT_TRUE(reachesState(sender, ThreadLib::kStateSending));
    EXPECT_EQ(ThreadLib::kill(next), 1u);
    EXPECT_EQ(ThreadLib::resume(next), 0u);
    ASSERT_TRUE(outcome.arrived());
    EXPECT_EQ(outcome.result, sender);
    EXPECT_EQ(outcome.word2, 4u);
    ASSERT_TRUE(ends(next));
    ASSERT_TRUE(ends(sender));
    EXPECT_FALSE(ran);
    EXPECT_EQ(ThreadLib::threadCount(), before);

    // Ids are never handed out twice, not even after a shutdown.
    ThreadLib::shutdown();
    EXPECT_EQ(ThreadLib::send(next, *std::make_unique<ThreadMessage>()), 0u);
    m_mainId = ThreadLib::init();
    EXPECT_GT(m_mainId, next);
}

// Two senders race for a waiting receiver: exactly one fills its buffer, and
// the other queues. Two more queue while the receiver is held; the queue is
// received in arrival order, all before any answer, and every answer carries
// both payload words back whole to its own sender.
TEST_F(ThreadLibTest, SendersAreReceivedInArrivalOrderAndEachIsAnswered) {
    Gate held, answering;
    std::vector<uint32_t> order;
    const uint32_t receiver = startThread([&] {
        ThreadMessage messages[4];
        for (int i = 0; i < 4; ++i) {
            order.push_back(ThreadLib::receive(messages[i]));
            if (i == 0) held.pass();
        }
        answering.pass();
        for (int i = 0; i < 4; ++i) {
            messages[i].word2 *= 10;
            messages[i].word3 ^= 1;
            ThreadLib::reply(order[i], messages[i]);
        }
        return 0u;
    });
    ASSERT_TRUE(reachesState(receiver, ThreadLib::kStateReceiving));

    SendOutcome outcomes[4];
    uint32_t ids[4];
    ids[0] = startSender(receiver, 1, outcomes[0]);
    ids[1] = startSender(receiver, 2, outcomes[1]);
    const auto racers = [&] { return std::set<uint32_t>{ThreadLib::stateOf(ids[0]), ThreadLib::stateOf(ids[1])}; };
    ASSERT_TRUE(eventually([&] {
        return racers() == std::set<uint32_t>{ThreadLib::kStateSending, ThreadLib::kStateAwaitingReply};
    }));
    for (int i = 2; i < 4; ++i) {
        ids[i] = startSender(receiver, i + 1, outcomes[i]);
        ASSERT_TRUE(reachesState(ids[i], ThreadLib::kStateSending));
    }
    held.open();
    for (const uint32_t id : ids) ASSERT_TRUE(reachesState(id, ThreadLib::kStateAwaitingReply));
    answering.open();
    for (std::uintptr_t i = 0; i < 4; ++i) {
        ASSERT_TRUE(outcomes[i].arrived());
        EXPECT_EQ(outcomes[i].result, receiver);
        EXPECT_EQ(outcomes[i].word2, (i + 1) * 10);
        EXPECT_EQ(outcomes[i].word3, (~std::uintptr_t{0} - (i + 1)) ^ 1);
    }
    ASSERT_TRUE(ends(receiver));
    EXPECT_EQ(std::set<uint32_t>(order.begin(), order.begin() + 2), std::set<uint32_t>(ids, ids + 2));
    EXPECT_EQ(order[2], ids[2]);
    EXPECT_EQ(order[3], ids[3]);
}

TEST_F(ThreadLibTest, TimedReceiveAndAnswersFromTheReceiverOrOnItsBehalf) {
    ThreadMessage message;
    EXPECT_EQ(ThreadLib::receiveTimed(message, 30), 0u);
    EXPECT_EQ(message.word1, 0u);
    EXPECT_EQ(ThreadLib::stateOf(m_mainId), ThreadLib::kStateRunning);

    // The receiver answers, once only.
    SendOutcome outcome;
    const uint32_t sender = startSender(m_mainId, 7, outcome);
    ASSERT_EQ(ThreadLib::receiveTimed(message, 5000), sender);
    EXPECT_EQ(message.word2, 7u);
    message.word2 = 8;
    EXPECT_EQ(ThreadLib::reply(sender, message), 1u);
    EXPECT_EQ(ThreadLib::reply(sender, message), 0u);
    ASSERT_TRUE(outcome.arrived());
    EXPECT_EQ(outcome.result, m_mainId);
    EXPECT_EQ(outcome.word2, 8u);

    // A send already waiting is taken at once, even with no time to wait. A
    // worker that did not receive it answers it on the receiver's behalf
    // only: the answer carries the worker's id and payload.
    SendOutcome queued;
    const uint32_t second = startSender(m_mainId, 9, queued);
    ASSERT_TRUE(reachesState(second, ThreadLib::kStateSending));
    ASSERT_EQ(ThreadLib::receiveTimed(message, 0), second);
    std::atomic<uint32_t> plainReply{99}, wrongReceiver{99}, onBehalf{99}, again{99};
    const uint32_t mainId = m_mainId;
    const uint32_t worker = startThread([&, mainId] {
        ThreadMessage answer;
        answer.word2 = 42;
        plainReply = ThreadLib::reply(second, answer);
        wrongReceiver = ThreadLib::replyFrom(second, ThreadLib::currentId(), answer);
        onBehalf = ThreadLib::replyFrom(second, mainId, answer);
        again = ThreadLib::replyFrom(second, mainId, answer);
        return 0u;
    });
    ASSERT_TRUE(queued.arrived());
    ASSERT_TRUE(ends(worker));
    EXPECT_EQ(plainReply, 0u);
    EXPECT_EQ(wrongReceiver, 0u);
    EXPECT_EQ(onBehalf, 1u);
    EXPECT_EQ(again, 0u);
    EXPECT_EQ(queued.result, worker);
    EXPECT_EQ(queued.word2, 42u);
}

// The crash reporter in place of the event log: reports counted, and those
// with another source or text.
std::atomic<int> g_reports{0};
std::atomic<int> g_wrongReports{0};

void recordReport(const char* source, const char* text) {
    ++g_reports;
    if (std::string(source) != "ThreadLib" || std::string(text) != "A Thread has crashed::") ++g_wrongReports;
}

// A target that received one message holds it unanswered while a second
// sender queues; then the target crashes, returns or is killed. Every way
// both senders are released with their own ids and their messages unchanged,
// and a killed target can neither answer nor receive any more. A crash is
// reported, whatever was thrown, and the library goes on.
TEST_F(ThreadLibTest, SendersAreReleasedWhenTheTargetCrashesEndsOrIsKilled) {
    g_reports = 0;
    g_wrongReports = 0;
    ThreadLib::setCrashReporter(recordReport);
    ASSERT_TRUE(ends(startThread([]() -> uint32_t { throw 42; })));
    for (const char* ending : {"throws", "returns", "killed"}) {
        SCOPED_TRACE(ending);
        const bool kill = std::string(ending) == "killed";
        const bool crash = std::string(ending) == "throws";
        Gate gate;
        std::atomic<uint32_t> received{0}, replied{99}, receivedAfterKill{99};
        std::atomic<bool> cancelled{false};
        const uint32_t target = startThread([&] {
            ThreadMessage message;
            received = ThreadLib::receive(message);
            gate.pass();
            if (crash) throw std::runtime_error("lost");
            cancelled = ThreadLib::isCancelled();
            if (!cancelled) return 0u;  // without answering
            ThreadMessage answer;
            answer.word2 = 77;
            replied = ThreadLib::reply(received, answer);
            receivedAfterKill = ThreadLib::receive(message);
            return 0u;
        });
        ASSERT_TRUE(reachesState(target, ThreadLib::kStateReceiving));
        SendOutcome answeredLater, queued;
        const uint32_t first = startSender(target, 5, answeredLater);
        ASSERT_TRUE(reachesState(first, ThreadLib::kStateAwaitingReply));
        const uint32_t second = startSender(target, 6, queued);
        ASSERT_TRUE(reachesState(second, ThreadLib::kStateSending));
        EXPECT_EQ(received, first);

        if (kill) {
            EXPECT_EQ(ThreadLib::kill(target), 1u);
        } else {
            gate.open();
        }
        ASSERT_TRUE(answeredLater.arrived());
        ASSERT_TRUE(queued.arrived());
        EXPECT_EQ(answeredLater.result, first);
        EXPECT_EQ(answeredLater.word2, 5u);
        EXPECT_EQ(queued.result, second);
        EXPECT_EQ(queued.word2, 6u);
        ThreadMessage late;
        // Refused once the target is cancelled, and once it has ended.
        if (kill) {
            EXPECT_EQ(ThreadLib::send(target, late), 0u);
        }
        ASSERT_TRUE(ends(target));
        EXPECT_EQ(ThreadLib::send(target, late), 0u);
        EXPECT_EQ(cancelled, kill);
        EXPECT_EQ(replied, kill ? 0u : 99u);
        EXPECT_EQ(receivedAfterKill, kill ? 0u : 99u);
        EXPECT_EQ(ThreadLib::kill(target), 0u);
    }
    EXPECT_TRUE(eventually([] { return g_reports == 2; }));
    EXPECT_EQ(g_wrongReports, 0);
    ThreadMessage late;
    EXPECT_EQ(ThreadLib::send(m_mainId, late), 0u);  // to itself
    EXPECT_EQ(ThreadLib::kill(0x7FFFFFFFu), 0u);
}

TEST_F(ThreadLibTest, KillWakesAThreadBlockedInReceiveOrSend) {
    std::atomic<bool> actionRan{false};
    std::atomic<uint32_t> receiveResult{99};
    const uint32_t receiver = startThread([&] {
        ThreadLib::setCancelAction([&] { actionRan = true; });
        ThreadMessage message;
        receiveResult = ThreadLib::receive(message);
        ThreadLib::clearCancelAction();
        return 0u;
    });
    ASSERT_TRUE(reachesState(receiver, ThreadLib::kStateReceiving));
    EXPECT_EQ(ThreadLib::kill(receiver), 1u);
    ASSERT_TRUE(ends(receiver));
    EXPECT_TRUE(actionRan);
    EXPECT_EQ(receiveResult, 0u);

    // A killed sender leaves the queue it waited in: the main thread, which
    // never received, finds nothing pending afterwards.
    SendOutcome outcome;
    const uint32_t sender = startSender(m_mainId, 3, outcome);
    ASSERT_TRUE(reachesState(sender, ThreadLib::kStateSending));
    EXPECT_EQ(ThreadLib::kill(sender), 1u);
    ASSERT_TRUE(outcome.arrived());
    EXPECT_EQ(outcome.result, 0u);
    ASSERT_TRUE(ends(sender));
    ThreadMessage message;
    EXPECT_EQ(ThreadLib::receiveTimed(message, 0), 0u);

    // An action set after the kill runs at once.
    std::atomic<bool> lateActionRan{false};
    Gate gate;
    const uint32_t late = startThread([&] {
        gate.pass();
        ThreadLib::setCancelAction([&] { lateActionRan = true; });
        return 0u;
    });
    EXPECT_EQ(ThreadLib::kill(late), 1u);
    ASSERT_TRUE(ends(late));
    EXPECT_TRUE(lateActionRan);
}

// init and createThread let std::bad_alloc out of the library when the
// table or a thread's record could not be allocated.
TEST(ThreadLibMemory, RunningOutOfMemoryAnswersZeroAndLeavesNothingBehind) {
    uint32_t initResult = 99;
    {
        test::AllocationWatch watch;
        watch.failFrom(4096);  // the table of 1999 buckets, not a record
        initResult = ThreadLib::init();
    }
    EXPECT_EQ(initResult, 0u);
    EXPECT_EQ(ThreadLib::currentId(), 0u);
    EXPECT_EQ(ThreadLib::threadCount(), 0u);

    ASSERT_NE(ThreadLib::init(), 0u);
    uint32_t created = 99;
    {
        test::AllocationWatch watch;
        watch.failFrom(128);  // a record, with its semaphores and functions
        created = ThreadLib::createThread([] { return 0u; });
    }
    EXPECT_EQ(created, 0u);
    EXPECT_EQ(ThreadLib::threadCount(), 1u);
    ThreadLib::shutdown();
}

} // namespace
} // namespace vp
