#include "foundation/Semaphore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vp {
namespace {

// Long enough for a thread that is not blocked to get through; a pass under
// a slow scheduler only weakens the check, never fails it.
void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(Semaphore, CountsStayWithinTheMaximumAndInvalidCountsAlwaysFail) {
    Semaphore signal;  // count 0, maximum 1
    EXPECT_EQ(signal.waitTimed(20), 0u);
    EXPECT_EQ(signal.release(), 1u);
    EXPECT_EQ(signal.release(), 0u);
    EXPECT_EQ(signal.waitTimed(0), 1u);

    Semaphore counting(2, 3);
    EXPECT_EQ(counting.wait(), 1u);
    EXPECT_EQ(counting.wait(), 1u);
    EXPECT_EQ(counting.waitTimed(0), 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(counting.release(), 1u);
    EXPECT_EQ(counting.release(), 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(counting.waitTimed(0), 1u);
    EXPECT_EQ(counting.waitTimed(0), 0u);

    Semaphore aboveMaximum(2, 1);
    Semaphore negative(-1, 1);
    Semaphore noMaximum(0, 0);
    for (Semaphore* semaphore : {&aboveMaximum, &negative, &noMaximum}) {
        EXPECT_EQ(semaphore->waitTimed(0), 0u);
        EXPECT_EQ(semaphore->release(), 0u);
        EXPECT_EQ(semaphore->wait(), 0u);
    }
}

// There is no owner: the releasing thread never took anything, and every
// release reaches a waiter even when many block at once.
TEST(Semaphore, ReleasesFromAnyThreadWakeWaitersAndNoneIsLost) {
    Semaphore tokens(0, 1000);
    std::atomic<uint32_t> taken{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 4; ++t) {
        waiters.emplace_back([&] {
            for (int i = 0; i < 250; ++i) taken += tokens.wait();
        });
    }
    pause();
    EXPECT_EQ(taken, 0u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(tokens.release(), 1u);
    for (std::thread& thread : waiters) thread.join();
    EXPECT_EQ(taken, 1000u);
    EXPECT_EQ(tokens.waitTimed(0), 0u);
}

TEST(Semaphore, CloseWakesBlockedWaitersWithZero) {
    Semaphore signal;
    std::atomic<uint32_t> untimed{99};
    std::atomic<uint32_t> timed{99};
    std::thread first([&] { untimed = signal.wait(); });
    std::thread second([&] { timed = signal.waitTimed(60000); });
    pause();
    EXPECT_EQ(signal.close(), 1u);
    first.join();
    second.join();
    EXPECT_EQ(untimed, 0u);
    EXPECT_EQ(timed, 0u);
    EXPECT_EQ(signal.wait(), 0u);
    EXPECT_EQ(signal.release(), 0u);
    EXPECT_EQ(signal.close(), 0u);

    // A closed mutex is not taken, so its guard must not release it either.
    Semaphore mutex(1, 1);
    mutex.close();
    SemaphoreLock lock(mutex);
    EXPECT_FALSE(lock.acquired());
}

TEST(Semaphore, LockGuardExcludesOtherThreads) {
    Semaphore mutex(1, 1);
    uint64_t counter = 0;  // deliberately not atomic: only the lock protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                SemaphoreLock lock(mutex);
                const uint64_t seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, 20000u);
    // Every guard released what it took: the mutex is available once.
    EXPECT_EQ(mutex.waitTimed(0), 1u);
    EXPECT_EQ(mutex.waitTimed(0), 0u);
}

} // namespace
} // namespace vp
