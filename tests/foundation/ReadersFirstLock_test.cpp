#include "foundation/ReadersFirstLock.h"

#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vp {
namespace {

// Long enough for a thread that is not blocked to get through; a pass under
// a slow scheduler only weakens the check, never fails it.
void pause() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(ReadersFirstLock, ReadersShareAndTheLastOneOutOnAnyThreadLetsTheWriterIn) {
    ReadersFirstLock lock;
    std::atomic<bool> readerInside{false};
    std::atomic<bool> writerInside{false};

    // A writer inside keeps a reader out.
    lock.lockWrite();
    std::thread first([&] {
        lock.lockRead();
        readerInside = true;
    });
    pause();
    EXPECT_FALSE(readerInside);
    lock.unlockWrite();
    first.join();
    ASSERT_TRUE(readerInside);

    // A second reader walks in while the first is still inside; the first
    // reader's thread has ended, so the write lock it took is released by
    // whoever leaves last: here the main thread, for both.
    std::atomic<bool> secondInside{false};
    std::thread second([&] {
        lock.lockRead();
        secondInside = true;
    });
    EXPECT_TRUE(test::eventually([&] { return secondInside.load(); }));
    second.join();
    std::thread writer([&] {
        WriteGuard guard(lock);
        writerInside = true;
    });
    lock.unlockRead();
    pause();
    EXPECT_FALSE(writerInside);  // one reader is still inside
    lock.unlockRead();
    writer.join();
    EXPECT_TRUE(writerInside);
}

} // namespace
} // namespace vp
