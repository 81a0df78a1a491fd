#include "PresenceRegistry.h"

namespace vp::server {

std::optional<OnlineUser> PresenceRegistry::enter(const std::string& key, OnlineUser user) {
    std::lock_guard lock(m_mutex);
    std::optional<OnlineUser> replaced;
    if (auto found = m_online.find(key); found != m_online.end()) {
        replaced = std::move(found->second);
        m_tickets.erase(replaced->ticket);
        m_online.erase(found);
    }
    if (!user.ticket.empty()) m_tickets[user.ticket] = key;
    m_online.emplace(key, std::move(user));
    return replaced;
}

std::optional<OnlineUser> PresenceRegistry::leave(const std::string& key, uint64_t loginId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_online.find(key);
    if (found == m_online.end() || found->second.loginId != loginId) return std::nullopt;
    OnlineUser left = std::move(found->second);
    m_online.erase(found);
    m_tickets.erase(left.ticket);
    forgetWatches(key);
    return left;
}

std::optional<OnlineUser> PresenceRegistry::find(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_online.find(key);
    if (found == m_online.end()) return std::nullopt;
    return found->second;
}

std::optional<PresenceRegistry::OpenedChannel> PresenceRegistry::openChannel(std::string_view ticket,
                                                                             std::weak_ptr<Conversation> channel) {
    std::lock_guard lock(m_mutex);
    const auto holder = m_tickets.find(std::string(ticket));
    if (ticket.empty() || holder == m_tickets.end()) return std::nullopt;
    OnlineUser& user = m_online.at(holder->second);
    OpenedChannel opened{holder->second, std::move(user.channel)};
    user.channel = std::move(channel);
    return opened;
}

bool PresenceRegistry::watch(const std::string& askerKey, const std::string& targetKey, KnownAs names) {
    std::lock_guard lock(m_mutex);
    if (!m_online.contains(askerKey)) return false;
    auto& targets = m_watching[askerKey];
    if (!targets.contains(targetKey) && targets.size() >= kMaxWatchesPerAsker) return false;
    targets.insert(targetKey);
    m_watchers[targetKey][askerKey] = std::move(names);
    return true;
}

void PresenceRegistry::unwatch(const std::string& askerKey, const std::string& targetKey) {
    std::lock_guard lock(m_mutex);
    if (const auto targets = m_watching.find(askerKey); targets != m_watching.end()) {
        targets->second.erase(targetKey);
        if (targets->second.empty()) m_watching.erase(targets);
    }
    if (const auto askers = m_watchers.find(targetKey); askers != m_watchers.end()) {
        askers->second.erase(askerKey);
        if (askers->second.empty()) m_watchers.erase(askers);
    }
}

std::vector<Watcher> PresenceRegistry::watchersOf(const std::string& targetKey) const {
    std::lock_guard lock(m_mutex);
    std::vector<Watcher> watchers;
    const auto found = m_watchers.find(targetKey);
    if (found == m_watchers.end()) return watchers;
    for (const auto& [askerKey, names] : found->second)
        if (const auto asker = m_online.find(askerKey); asker != m_online.end())
            watchers.push_back({asker->second, names});
    return watchers;
}

std::vector<OnlineUser> PresenceRegistry::everyone() const {
    std::lock_guard lock(m_mutex);
    std::vector<OnlineUser> users;
    users.reserve(m_online.size());
    for (const auto& [key, user] : m_online) users.push_back(user);
    return users;
}

// An asker that goes offline asks again at its next log-in; until then its
// registrations are only memory.
void PresenceRegistry::forgetWatches(const std::string& askerKey) {
    const auto found = m_watching.find(askerKey);
    if (found == m_watching.end()) return;
    for (const std::string& target : found->second) {
        auto watchers = m_watchers.find(target);
        if (watchers == m_watchers.end()) continue;
        watchers->second.erase(askerKey);
        if (watchers->second.empty()) m_watchers.erase(watchers);
    }
    m_watching.erase(found);
}

} // namespace vp::server
