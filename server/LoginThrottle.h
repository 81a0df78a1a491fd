#pragma once
// Slows down password guessing: after a number of failed log-ins from one
// address, each further attempt from there waits before its password is
// checked, twice as long with every failure up to a ceiling, until a log-in
// from the address succeeds or it stays quiet for a while. Safe from any
// thread.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vp::server {

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    struct Limits {
        uint32_t freeFailures = 5;                      // failures that cost nothing
        Clock::duration firstDelay = std::chrono::seconds(1);
        Clock::duration longestDelay = std::chrono::seconds(30);
        Clock::duration forgetAfter = std::chrono::minutes(15);
        std::size_t maxAddresses = 65536;               // addresses remembered at once
    };

    explicit LoginThrottle(const Limits& limits) : m_limits(limits) {}

    // How long an attempt from the address waits before its password is
    // checked.
    Clock::duration delayFor(const std::string& address, Clock::time_point now);
    void failed(const std::string& address, Clock::time_point now);
    void succeeded(const std::string& address);

private:
    struct Record {
        uint32_t failures = 0;
        Clock::time_point last;
    };
    void makeRoom(Clock::time_point now);

    Limits m_limits;
    std::mutex m_mutex;
    std::unordered_map<std::string, Record> m_records;
};

} // namespace vp::server
