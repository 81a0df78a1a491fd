#include "LiveConnections.h"

#include "FramedSocket.h"

#include <vector>

namespace vp::server {

void LiveConnections::add(const std::shared_ptr<FramedSocket>& connection) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_closing) {
            m_connections.emplace(connection.get(), connection);
            return;
        }
    }
    connection->closeSoon();
}

void LiveConnections::remove(const FramedSocket* connection) {
    std::lock_guard lock(m_mutex);
    m_connections.erase(connection);
}

void LiveConnections::closeAll() {
    // The connections are closed outside the lock: a close that runs at once
    // may end a connection, which then removes itself.
    std::vector<std::shared_ptr<FramedSocket>> open;
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        for (const auto& [key, connection] : m_connections)
            if (auto held = connection.lock()) open.push_back(std::move(held));
    }
    for (const auto& connection : open) connection->closeSoon();
}

std::size_t LiveConnections::count() const {
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

} // namespace vp::server
