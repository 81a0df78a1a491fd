#include "foundation/ThreadLib.h"

#include "support/AllocationWatch.h"
#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
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

TEST_F(ThreadLibTest, IdsAreTheLibrarysOwnAndRegistrationIsCounted) {
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

    // Ids are never handed out twice, not even after a shutdown.
    const uint32_t next = ThreadLib::createThread([] { return 0u; });
    EXPECT_GT(next, id);
    ThreadLib::shutdown();
    EXPECT_EQ(ThreadLib::send(next, *std::make_unique<ThreadMessage>()), 0u);
    m_mainId = ThreadLib::init();
    EXPECT_GT(m_mainId, next);
}

TEST_F(ThreadLibTest, IdsDifferingOnlyInTheLowThreeBitsShareABucket) {
    EXPECT_EQ(ThreadLib::bucketOf(8), 1642u);
    EXPECT_EQ(ThreadLib::bucketOf(16), 1431u);
    EXPECT_EQ(ThreadLib::bucketOf(0x12345678), 10u);
    EXPECT_EQ(ThreadLib::bucketOf(0xFFFFFFF8u), 1692u);
    for (const uint32_t base : {0u, 8u, 0x12345678u & ~7u, 0xFFFFFFF8u}) {
        for (uint32_t low = 1; low < 8; ++low) EXPECT_EQ(ThreadLib::bucketOf(base | low), ThreadLib::bucketOf(base));
    }
}

TEST_F(ThreadLibTest, TwoSendersToAWaitingReceiverAreEachReceivedAndAnswered) {
    std::vector<uint32_t> received;
    const uint32_t receiver = startThread([&] {
        for (int i = 0; i < 2; ++i) {
            ThreadMessage message;
            const uint32_t sender = ThreadLib::receive(message);
            if (sender == 0) return 1u;
            received.push_back(sender);
            ThreadMessage answer;
            answer.word2 = message.word2 * 10;
            answer.word3 = message.word3 ^ 1;
            ThreadLib::reply(sender, answer);
        }
        return 0u;
    });
    ASSERT_TRUE(reachesState(receiver, ThreadLib::kStateReceiving));

    SendOutcome first, second;
    const uint32_t firstId = startSender(receiver, 1, first);
    const uint32_t secondId = startSender(receiver, 2, second);
    ASSERT_TRUE(first.arrived());
    ASSERT_TRUE(second.arrived());
    ASSERT_TRUE(ends(receiver));

    EXPECT_EQ(first.result, receiver);
    EXPECT_EQ(first.word2, 10u);
    EXPECT_EQ(first.word3, (~std::uintptr_t{0} - 1) ^ 1);
    EXPECT_EQ(second.result, receiver);
    EXPECT_EQ(second.word2, 20u);
    EXPECT_EQ(second.word3, (~std::uintptr_t{0} - 2) ^ 1);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_NE(received[0], received[1]);
    for (const uint32_t sender : received) EXPECT_TRUE(sender == firstId || sender == secondId);
}

TEST_F(ThreadLibTest, PendingSendersAreReceivedInArrivalOrder) {
    Gate start, answer;
    std::vector<uint32_t> order;
    const uint32_t receiver = startThread([&] {
        start.pass();
        std::vector<uint32_t> senders;
        for (int i = 0; i < 3; ++i) {
            ThreadMessage message;
            const uint32_t sender = ThreadLib::receive(message);
            order.push_back(sender);
            senders.push_back(sender);
        }
        answer.pass();
        for (const uint32_t sender : senders) {
            ThreadMessage reply;
            reply.word2 = sender;
            ThreadLib::reply(sender, reply);
        }
        return 0u;
    });

    SendOutcome outcomes[3];
    uint32_t ids[3];
    for (int i = 0; i < 3; ++i) {
        ids[i] = startSender(receiver, 0, outcomes[i]);
        ASSERT_TRUE(reachesState(ids[i], ThreadLib::kStateSending));
    }
    start.open();
    // All three received, none answered yet.
    for (const uint32_t id : ids) ASSERT_TRUE(reachesState(id, ThreadLib::kStateAwaitingReply));
    answer.open();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(outcomes[i].arrived());
        EXPECT_EQ(outcomes[i].result, receiver);
        EXPECT_EQ(outcomes[i].word2, ids[i]);
    }
    ASSERT_TRUE(ends(receiver));
    EXPECT_EQ(order, std::vector<uint32_t>(ids, ids + 3));
}

TEST_F(ThreadLibTest, TimedReceiveGivesUpAndTheNextReceiveGetsALaterSend) {
    ThreadMessage message;
    EXPECT_EQ(ThreadLib::receiveTimed(message, 30), 0u);
    EXPECT_EQ(message.word1, 0u);
    EXPECT_EQ(ThreadLib::stateOf(m_mainId), ThreadLib::kStateRunning);

    SendOutcome outcome;
    const uint32_t sender = startSender(m_mainId, 7, outcome);
    ASSERT_EQ(ThreadLib::receiveTimed(message, 5000), sender);
    EXPECT_EQ(message.word2, 7u);
    ThreadMessage answer;
    answer.word2 = 8;
    EXPECT_EQ(ThreadLib::reply(sender, answer), 1u);
    // Answered once only.
    EXPECT_EQ(ThreadLib::reply(sender, answer), 0u);
    ASSERT_TRUE(outcome.arrived());
    EXPECT_EQ(outcome.result, m_mainId);
    EXPECT_EQ(outcome.word2, 8u);

    // A send already waiting is taken at once, even with no time to wait.
    SendOutcome queued;
    const uint32_t second = startSender(m_mainId, 9, queued);
    ASSERT_TRUE(reachesState(second, ThreadLib::kStateSending));
    ASSERT_EQ(ThreadLib::receiveTimed(message, 0), second);
    EXPECT_EQ(ThreadLib::reply(second, answer), 1u);
    ASSERT_TRUE(queued.arrived());
}

TEST_F(ThreadLibTest, SendersAreReleasedWhenTheTargetEnds) {
    Gate gate;
    std::atomic<uint32_t> received{0};
    const uint32_t target = startThread([&] {
        ThreadMessage message;
        received = ThreadLib::receive(message);
        gate.pass();
        return 0u;  // without answering
    });
    ASSERT_TRUE(reachesState(target, ThreadLib::kStateReceiving));
    SendOutcome answeredLater, queued;
    const uint32_t first = startSender(target, 5, answeredLater);
    ASSERT_TRUE(reachesState(first, ThreadLib::kStateAwaitingReply));
    const uint32_t second = startSender(target, 6, queued);
    ASSERT_TRUE(reachesState(second, ThreadLib::kStateSending));
    EXPECT_EQ(received, first);

    gate.open();
    ASSERT_TRUE(answeredLater.arrived());
    ASSERT_TRUE(queued.arrived());
    EXPECT_EQ(answeredLater.result, first);
    EXPECT_EQ(answeredLater.word2, 5u);
    EXPECT_EQ(queued.result, second);
    EXPECT_EQ(queued.word2, 6u);

    ASSERT_TRUE(ends(target));
    ThreadMessage late;
    EXPECT_EQ(ThreadLib::send(target, late), 0u);
    EXPECT_EQ(ThreadLib::send(m_mainId, late), 0u);  // to itself
}

TEST_F(ThreadLibTest, KillReleasesSendersAndSilencesTheKilledThread) {
    Gate gate;
    std::atomic<uint32_t> replied{99}, receivedAfterKill{99};
    std::atomic<bool> cancelled{false};
    std::atomic<uint32_t> firstSender{0};
    const uint32_t target = startThread([&] {
        ThreadMessage message;
        firstSender = ThreadLib::receive(message);
        gate.pass();
        cancelled = ThreadLib::isCancelled();
        ThreadMessage answer;
        answer.word2 = 77;
        replied = ThreadLib::reply(firstSender, answer);
        receivedAfterKill = ThreadLib::receive(message);
        return 0u;
    });
    ASSERT_TRUE(reachesState(target, ThreadLib::kStateReceiving));
    SendOutcome received, queued;
    const uint32_t first = startSender(target, 5, received);
    ASSERT_TRUE(reachesState(first, ThreadLib::kStateAwaitingReply));
    const uint32_t second = startSender(target, 6, queued);
    ASSERT_TRUE(reachesState(second, ThreadLib::kStateSending));

    EXPECT_EQ(ThreadLib::kill(target), 1u);
    ASSERT_TRUE(received.arrived());
    ASSERT_TRUE(queued.arrived());
    EXPECT_EQ(received.result, first);
    EXPECT_EQ(received.word2, 5u);
    EXPECT_EQ(queued.result, second);
    EXPECT_EQ(queued.word2, 6u);
    ThreadMessage late;
    EXPECT_EQ(ThreadLib::send(target, late), 0u);

    ASSERT_TRUE(ends(target));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(replied, 0u);
    EXPECT_EQ(receivedAfterKill, 0u);
    EXPECT_EQ(ThreadLib::kill(target), 0u);
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

TEST_F(ThreadLibTest, KillingAThreadNeverResumedEndsItWithoutRunning) {
    const uint32_t before = ThreadLib::threadCount();
    std::atomic<bool> ran{false};
    const uint32_t id = ThreadLib::createThread([&] {
        ran = true;
        return 0u;
    });
    ASSERT_NE(id, 0u);
    SendOutcome outcome;
    const uint32_t sender = startSender(id, 4, outcome);
    ASSERT_TRUE(reachesState(sender, ThreadLib::kStateSending));

    EXPECT_EQ(ThreadLib::kill(id), 1u);
    EXPECT_EQ(ThreadLib::resume(id), 0u);
    ASSERT_TRUE(outcome.arrived());
    EXPECT_EQ(outcome.result, sender);
    EXPECT_EQ(outcome.word2, 4u);
    ASSERT_TRUE(ends(id));
    ASSERT_TRUE(ends(sender));
    EXPECT_FALSE(ran);
    EXPECT_EQ(ThreadLib::threadCount(), before);
}

// The reports of the replaced crash reporter.
Semaphore g_reportLock(1, 1);
std::vector<std::pair<std::string, std::string>> g_reports;

void recordReport(const char* source, const char* text) {
    SemaphoreLock lock(g_reportLock);
    g_reports.emplace_back(source, text);
}

size_t reportCount() {
    SemaphoreLock lock(g_reportLock);
    return g_reports.size();
}

TEST_F(ThreadLibTest, ACrashIsReportedAndTheProcessGoesOn) {
    {
        SemaphoreLock lock(g_reportLock);
        g_reports.clear();
    }
    ThreadLib::setCrashReporter(recordReport);
    Gate gate;
    const uint32_t thrower = startThread([&]() -> uint32_t {
        ThreadMessage message;
        ThreadLib::receive(message);
        gate.pass();
        throw std::runtime_error("lost");
    });
    const uint32_t oddThrower = startThread([]() -> uint32_t { throw 42; });
    ASSERT_TRUE(reachesState(thrower, ThreadLib::kStateReceiving));
    SendOutcome outcome;
    const uint32_t sender = startSender(thrower, 1, outcome);
    ASSERT_TRUE(reachesState(sender, ThreadLib::kStateAwaitingReply));
    gate.open();

    // The crashed thread's requester is released like that of any thread that ends.
    ASSERT_TRUE(outcome.arrived());
    EXPECT_EQ(outcome.result, sender);
    ASSERT_TRUE(ends(thrower));
    ASSERT_TRUE(ends(oddThrower));
    ASSERT_TRUE(eventually([] { return reportCount() == 2; }));
    {
        SemaphoreLock lock(g_reportLock);
        for (const auto& report : g_reports) {
            EXPECT_EQ(report.first, "ThreadLib");
            EXPECT_EQ(report.second, "A Thread has crashed::");
        }
    }

    // Messages still flow.
    SendOutcome after;
    const uint32_t another = startSender(m_mainId, 2, after);
    ThreadMessage message;
    ASSERT_EQ(ThreadLib::receiveTimed(message, 5000), another);
    ThreadMessage answer;
    answer.word2 = 3;
    EXPECT_EQ(ThreadLib::reply(another, answer), 1u);
    ASSERT_TRUE(after.arrived());
    EXPECT_EQ(after.word2, 3u);
}

TEST_F(ThreadLibTest, ReplyFromAnswersOnBehalfOfTheReceiver) {
    SendOutcome outcome;
    const uint32_t sender = startSender(m_mainId, 1, outcome);
    ThreadMessage message;
    ASSERT_EQ(ThreadLib::receiveTimed(message, 5000), sender);

    std::atomic<uint32_t> plainReply{99}, wrongReceiver{99}, onBehalf{99}, again{99};
    const uint32_t mainId = m_mainId;
    const uint32_t worker = startThread([&, mainId] {
        ThreadMessage answer;
        answer.word2 = 42;
        // The worker did not receive the message itself.
        plainReply = ThreadLib::reply(sender, answer);
        wrongReceiver = ThreadLib::replyFrom(sender, ThreadLib::currentId(), answer);
        onBehalf = ThreadLib::replyFrom(sender, mainId, answer);
        again = ThreadLib::replyFrom(sender, mainId, answer);
        return 0u;
    });
    ASSERT_TRUE(outcome.arrived());
    ASSERT_TRUE(ends(worker));
    EXPECT_EQ(plainReply, 0u);
    EXPECT_EQ(wrongReceiver, 0u);
    EXPECT_EQ(onBehalf, 1u);
    EXPECT_EQ(again, 0u);
    // The answering thread's id, and its payload.
    EXPECT_EQ(outcome.result, worker);
    EXPECT_EQ(outcome.word2, 42u);
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
