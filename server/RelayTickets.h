#pragma once
// The relays waiting for their receiver, each under the ticket the receiver
// was sent. Only the receiver learns a ticket, and a ticket answers its one
// relay once: the answer takes it out, and so does a sender that stops
// waiting. Safe from any thread.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vp::server {

class RelayJoin;

class RelayTickets {
public:
    // The most relays that wait at once; a sender beyond is refused.
    static constexpr std::size_t kMaxWaiting = 4096;

    // A fresh ticket under which the relay waits; empty when too many wait
    // or no random bytes could be had.
    std::string issue(std::shared_ptr<RelayJoin> relay);
    // The relay waiting under the ticket, taken out; null when none does.
    std::shared_ptr<RelayJoin> claim(std::string_view ticket);
    // Takes the ticket out for a sender that stops waiting; false when an
    // answer has claimed it first.
    bool withdraw(const std::string& ticket);

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, std::shared_ptr<RelayJoin>> m_waiting;
};

} // namespace vp::server
