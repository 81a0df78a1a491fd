#include "LoginThrottle.h"

#include <gtest/gtest.h>

namespace vp::server {
namespace {

using std::chrono::seconds;

TEST(LoginThrottle, EachFailurePastTheFreeOnesDoublesTheWaitUpToItsCeiling) {
    LoginThrottle throttle({.freeFailures = 2, .firstDelay = seconds(1), .longestDelay = seconds(4),
                            .forgetAfter = seconds(60), .maxAddresses = 2});
    const LoginThrottle::Clock::time_point start;
    enum Event { Fail, Succeed, Nothing };
    // Each row happens at its second, then the wait of its address is read.
    const struct {
        int at;
        const char* address;
        Event event;
        int wait;
    } rows[] = {
        {0, "a", Fail, 0}, {1, "a", Fail, 1}, {2, "a", Fail, 2}, {3, "a", Fail, 4}, {4, "a", Fail, 4},
        {5, "b", Fail, 0}, {5, "a", Nothing, 4},
        {6, "a", Succeed, 0}, {7, "a", Fail, 0}, {8, "a", Fail, 1},
        // Quiet for the forgetting time, an address starts again.
        {68, "a", Nothing, 0}, {69, "a", Fail, 0},
        // A third address pushes out the quietest of the two remembered.
        {70, "b", Fail, 0}, {70, "b", Fail, 1}, {71, "c", Fail, 0}, {72, "c", Fail, 1}, {72, "a", Fail, 0},
        {73, "b", Nothing, 0},
    };
    for (const auto& row : rows) {
        const auto now = start + seconds(row.at);
        if (row.event == Fail) throttle.failed(row.address, now);
        if (row.event == Succeed) throttle.succeeded(row.address);
        EXPECT_EQ(throttle.delayFor(row.address, now), seconds(row.wait)) << row.address << " at " << row.at;
    }
}

} // namespace
} // namespace vp::server
