#include "RelayTickets.h"

#include "storage/PasswordHash.h"

namespace vp::server {

std::string RelayTickets::issue(std::shared_ptr<RelayJoin> relay) {
    std::string ticket = randomTicket();
    if (ticket.empty()) return ticket;
    std::lock_guard lock(m_mutex);
    if (m_waiting.size() >= kMaxWaiting) return {};
    // 128 random bits do not repeat; a ticket that did is refused rather
    // than handed to two relays.
    if (!m_waiting.emplace(ticket, std::move(relay)).second) return {};
    return ticket;
}

std::shared_ptr<RelayJoin> RelayTickets::claim(std::string_view ticket) {
    std::lock_guard lock(m_mutex);
    const auto found = m_waiting.find(std::string(ticket));
    if (found == m_waiting.end()) return nullptr;
    std::shared_ptr<RelayJoin> relay = std::move(found->second);
    m_waiting.erase(found);
    return relay;
}

bool RelayTickets::withdraw(const std::string& ticket) {
    std::lock_guard lock(m_mutex);
    return m_waiting.erase(ticket) == 1;
}

} // namespace vp::server
