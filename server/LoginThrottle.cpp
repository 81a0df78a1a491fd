#include "LoginThrottle.h"

#include <algorithm>

namespace vp::server {

LoginThrottle::Clock::duration LoginThrottle::delayFor(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    const auto found = m_records.find(address);
    if (found == m_records.end()) return Clock::duration::zero();
    const Record& record = found->second;
    if (now - record.last >= m_limits.forgetAfter || record.failures < m_limits.freeFailures)
        return Clock::duration::zero();
    // Doubling stops well before the shift could overflow: the ceiling is
    // reached long before.
    const uint32_t doublings = std::min<uint32_t>(record.failures - m_limits.freeFailures, 20);
    return std::min(m_limits.firstDelay * (1u << doublings), m_limits.longestDelay);
}

void LoginThrottle::failed(const std::string& address, Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    auto found = m_records.find(address);
    if (found == m_records.end()) {
        makeRoom(now);
        found = m_records.emplace(address, Record{}).first;
    }
    Record& record = found->second;
    if (now - record.last >= m_limits.forgetAfter) record.failures = 0;
    ++record.failures;
    record.last = now;
}

void LoginThrottle::succeeded(const std::string& address) {
    std::lock_guard lock(m_mutex);
    m_records.erase(address);
}

// Addresses quiet for long enough go first; when every one is recent, the
// quietest goes, so that a flood of addresses cannot grow the table.
void LoginThrottle::makeRoom(Clock::time_point now) {
    if (m_records.size() < m_limits.maxAddresses) return;
    std::erase_if(m_records, [&](const auto& entry) { return now - entry.second.last >= m_limits.forgetAfter; });
    if (m_records.size() < m_limits.maxAddresses) return;
    const auto quietest = std::min_element(m_records.begin(), m_records.end(), [](const auto& a, const auto& b) {
        return a.second.last < b.second.last;
    });
    m_records.erase(quietest);
}

} // namespace vp::server
