#include "foundation/SerialService.h"
#include "foundation/Service.h"

#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace vp {
namespace {

constexpr std::uintptr_t kCompute = 2;
constexpr std::uintptr_t kBlock = 3;
constexpr std::uintptr_t kAnswerThenBlock = 4;
constexpr std::uintptr_t kIgnoreCancel = 5;
constexpr std::uintptr_t kThrow = 6;

constexpr uint32_t kStopResult = 7;

uint32_t computed(std::uintptr_t value) { return static_cast<uint32_t>(value * 3 + 1); }

using test::eventually;

// Library threads that post, each keeping what its post function returned.
class Posters {
public:
    uint32_t start(std::function<uint32_t()> post) {
        m_results.push_back(std::make_unique<std::atomic<uint32_t>>(99));
        std::atomic<uint32_t>* slot = m_results.back().get();
        const uint32_t id = ThreadLib::createThread([this, slot, post = std::move(post)] {
            *slot = post();
            m_done.release();
            return 0u;
        });
        EXPECT_EQ(ThreadLib::resume(id), 1u);
        return id;
    }
    // Waits until every poster started so far has returned.
    bool allReturned() {
        for (; m_waited < m_results.size(); ++m_waited) {
            if (m_done.waitTimed(30000) != 1) return false;
        }
        return true;
    }
    uint32_t result(size_t index) const { return *m_results[index]; }

private:
    std::vector<std::unique_ptr<std::atomic<uint32_t>>> m_results;
    Semaphore m_done{0, 1000};
    size_t m_waited = 0;
};

class TestService : public Service {
public:
    ~TestService() override { stop(); }
    using Service::call;

    std::atomic<uint32_t> startResult{1};
    // Has onStart and onStop run out of memory.
    std::atomic<bool> outOfMemory{false};
    std::atomic<uint32_t> starts{0};
    std::atomic<uint32_t> stops{0};
    std::atomic<uint32_t> blocked{0};
    std::atomic<uint32_t> handlersEnded{0};
    std::atomic<uint32_t> answeredAfterCancel{0};
    // Lets a kIgnoreCancel handler go on.
    Semaphore straggler;

protected:
    uint32_t onStart() override {
        ++starts;
        if (outOfMemory) throw std::bad_alloc();
        return startResult;
    }
    uint32_t onStop() override {
        ++stops;
        if (outOfMemory) throw std::bad_alloc();
        return kStopResult;
    }
    uint32_t handleRequest(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* args) override {
        const std::uintptr_t code = args[0];
        const std::uintptr_t value = argumentCount > 1 ? args[1] : 0;
        switch (code) {
        case kCompute:
            return answer(sender, computed(value));
        case kAnswerThenBlock:
            // Fire and forget: the requester runs on, its arguments are gone.
            answer(sender, static_cast<uint32_t>(value));
            [[fallthrough]];
        case kBlock: {
            Semaphore released;
            {
                ScopedCancelAction cancel([&released] { released.release(); });
                ++blocked;
                released.wait();
            }
            // Slow to end once cancelled, so that a stop that does not wait
            // for its workers returns before they have ended.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (code == kBlock && answer(sender, 1) != 0) ++answeredAfterCancel;
            ++handlersEnded;
            return 0;
        }
        case kIgnoreCancel: {
            ++blocked;
            // Bounded, so that a failed test cannot hang the destructor.
            straggler.waitTimed(10000);
            if (answer(sender, 9) != 0) ++answeredAfterCancel;
            ++handlersEnded;
            return 0;
        }
        case kThrow:
            throw std::runtime_error("handler fault");
        default:
            return answer(sender, 0);
        }
    }
};

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(ThreadLib::init(), 0u); }
    void TearDown() override {
        ThreadLib::setCrashReporter(nullptr);
        ThreadLib::shutdown();
    }

    // Outlives the shutdown, which ends any poster a failed test left behind.
    Posters m_posters;
};

std::atomic<uint32_t> g_crashes{0};
void countCrash(const char*, const char*) { ++g_crashes; }

// A handler that throws is reported, its requester gets 0 and the service
// goes on serving.
TEST_F(ServiceTest, ServesManyConcurrentPostsEachWithItsOwnAnswer) {
    g_crashes = 0;
    ThreadLib::setCrashReporter(countCrash);
    TestService service;
    ASSERT_EQ(service.start(), 1u);
    EXPECT_EQ(service.post(1, kThrow), 0u);
    EXPECT_TRUE(eventually([] { return g_crashes == 1; }));
    std::atomic<uint32_t> wrong{0};
    for (std::uintptr_t thread = 0; thread < 8; ++thread) {
        m_posters.start([&service, &wrong, thread] {
            for (std::uintptr_t i = 0; i < 32; ++i) {
                const std::uintptr_t value = thread * 1000 + i;
                if (service.post(2, kCompute, value) != computed(value)) ++wrong;
            }
            return 0u;
        });
    }
    ASSERT_TRUE(m_posters.allReturned());
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(service.stop(), kStopResult);
}

// The workers used to end at once when cancelled, so a stop that did not
// wait for them passed too. And the stop used to answer every requester of a
// running worker by thread id, so a requester whose worker had answered
// already and that then asked for the stop itself got the stop answered 0.
TEST_F(ServiceTest, StopCancelsBlockedWorkersWaitsForThemAndAnswersTheirRequestersWithZero) {
    TestService service;
    ASSERT_EQ(service.start(), 1u);
    for (std::uintptr_t i = 0; i < 3; ++i) m_posters.start([&service, i] { return service.post(2, kBlock, i); });
    EXPECT_EQ(service.post(2, kAnswerThenBlock, 5), 5u);
    ASSERT_TRUE(eventually([&] { return service.blocked == 4; }));

    EXPECT_EQ(service.stop(), kStopResult);
    EXPECT_EQ(service.handlersEnded, 4u);
    ASSERT_TRUE(m_posters.allReturned());
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(m_posters.result(i), 0u);
    EXPECT_EQ(service.answeredAfterCancel, 0u);
    EXPECT_EQ(service.post(2, kCompute, 1), 0u);
}

TEST_F(ServiceTest, AWorkerOutlivingTheStopWaitGetsNoSayAndKeepsItsTable) {
    TestService service;
    service.setStopWaitLimit(50);
    ASSERT_EQ(service.start(), 1u);
    m_posters.start([&service] { return service.post(1, kIgnoreCancel); });
    ASSERT_TRUE(eventually([&] { return service.blocked == 1; }));

    EXPECT_EQ(service.stop(), kStopResult);
    ASSERT_TRUE(m_posters.allReturned());
    EXPECT_EQ(m_posters.result(0), 0u);

    // The straggler still has its row to remove while the service runs again.
    EXPECT_EQ(service.start(), 1u);
    EXPECT_EQ(service.post(2, kCompute, 2), computed(2));
    service.straggler.release();
    EXPECT_TRUE(eventually([&] { return service.handlersEnded == 1; }));
    EXPECT_EQ(service.answeredAfterCancel, 0u);
    EXPECT_EQ(service.stop(), kStopResult);
}

// A start hook that ran out of memory used to end the service thread with
// the start unanswered, so start reported 1 with nothing running.
TEST_F(ServiceTest, StartsStopsAndRefusals) {
    const uint32_t before = ThreadLib::threadCount();
    TestService service;
    EXPECT_EQ(service.stop(), 1u);  // never started
    EXPECT_EQ(service.post(2, kCompute, 1), 0u);
    for (const bool outOfMemory : {false, true}) {
        service.startResult = outOfMemory ? 1 : 0;
        service.outOfMemory = outOfMemory;
        EXPECT_EQ(service.start(), 0u) << outOfMemory;
        EXPECT_EQ(service.started(), 0u);
        EXPECT_EQ(service.serviceThreadId(), 0u);
        EXPECT_EQ(service.post(2, kCompute, 1), 0u);
        EXPECT_TRUE(eventually([&] { return ThreadLib::threadCount() == before; }));
        EXPECT_EQ(service.stop(), 1u);
    }
    service.outOfMemory = false;
    ASSERT_EQ(service.start(), 1u);
    EXPECT_EQ(service.start(), 0u);  // already started
    EXPECT_NE(service.serviceThreadId(), 0u);

    // Refused at once: starting and stopping are start's and stop's alone,
    // and a list must hold the code and as many arguments as counted.
    const auto eight = [] { return 8u; };
    EXPECT_EQ(service.call(Service::kStartCode, eight), 0u);
    EXPECT_EQ(service.call(Service::kStopCode, eight), 0u);
    EXPECT_EQ(service.post(1, Service::kStartCode), 0u);
    EXPECT_EQ(service.post(1, Service::kStopCode), 0u);
    EXPECT_EQ(service.post(0, kCompute, 1), 0u);
    EXPECT_EQ(service.post(3, kCompute, 1), 0u);
    EXPECT_EQ(service.post(1, nullptr), 0u);
    const std::uintptr_t none[] = {kCompute};
    EXPECT_EQ(service.post(0, none), 0u);
    // A call that runs out of memory answers 0 and leaves the thread serving.
    EXPECT_EQ(service.call(kCompute, []() -> uint32_t { throw std::bad_alloc(); }), 0u);
    EXPECT_EQ(service.call(kCompute, eight), 8u);
    EXPECT_EQ(service.post(2, kCompute, 6), computed(6));
    EXPECT_EQ(service.stop(), kStopResult);
    EXPECT_EQ(service.stop(), 1u);
    EXPECT_EQ(service.serviceThreadId(), 0u);
    EXPECT_EQ(service.post(2, kCompute, 4), 0u);

    // Started again, stopped right after the start (which was answered
    // first), and a stop hook that runs out of memory.
    ASSERT_EQ(service.start(), 1u);
    EXPECT_EQ(service.stop(), kStopResult);
    ASSERT_EQ(service.start(), 1u);
    EXPECT_EQ(service.post(2, kCompute, 5), computed(5));
    service.outOfMemory = true;
    EXPECT_EQ(service.stop(), 0u);
    EXPECT_EQ(service.starts, 5u);
    EXPECT_EQ(service.stops, 3u);
}

class OrderedService : public SerialService {
public:
    ~OrderedService() override { stop(); }

    // Holds the request with value 0 until released.
    Semaphore gate;
    std::vector<std::uintptr_t> log;
    std::atomic<bool> overlapped{false};

protected:
    uint32_t handleRequest(uint32_t, uint32_t argumentCount, const std::uintptr_t* args) override {
        if (++m_inside != 1) overlapped = true;
        const std::uintptr_t value = argumentCount > 1 ? args[1] : 0;
        if (value == 0) {
            ScopedCancelAction cancel([this] { gate.release(); });
            gate.wait();
        } else {
            std::this_thread::yield();
        }
        log.push_back(value);
        --m_inside;
        return static_cast<uint32_t>(value + 100);
    }

private:
    std::atomic<int> m_inside{0};
};

TEST_F(ServiceTest, SerialServiceRunsRequestsOneAtATimeInArrivalOrder) {
    OrderedService service;
    ASSERT_EQ(service.start(), 1u);
    const uint32_t first = m_posters.start([&service] { return service.post(2, kCompute, 0); });
    ASSERT_TRUE(eventually([&] { return ThreadLib::stateOf(first) == ThreadLib::kStateAwaitingReply; }));
    for (std::uintptr_t value = 1; value <= 5; ++value) {
        const uint32_t poster = m_posters.start([&service, value] { return service.post(2, kCompute, value); });
        ASSERT_TRUE(eventually([&] { return ThreadLib::stateOf(poster) == ThreadLib::kStateSending; }));
    }
    service.gate.release();
    ASSERT_TRUE(m_posters.allReturned());
    for (size_t i = 0; i <= 5; ++i) EXPECT_EQ(m_posters.result(i), i + 100);
    EXPECT_EQ(service.log, (std::vector<std::uintptr_t>{0, 1, 2, 3, 4, 5}));

    EXPECT_FALSE(service.overlapped);

    EXPECT_EQ(service.stop(), 1u);
    EXPECT_EQ(service.stop(), 1u);
    EXPECT_EQ(service.post(2, kCompute, 1), 0u);
    ASSERT_EQ(service.start(), 1u);
    EXPECT_EQ(service.post(2, kCompute, 1), 101u);
    EXPECT_EQ(service.stop(), 1u);
}

} // namespace
} // namespace vp
