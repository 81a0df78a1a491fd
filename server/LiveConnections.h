#pragma once
// Every connection the server holds open, incoming and outgoing, so that a
// stop can close them all. A connection made after the stop is closed at
// once, so nothing outlives it.

#include <memory>
#include <mutex>
#include <unordered_map>

namespace vp::server {

class FramedSocket;

class LiveConnections {
public:
    // Takes the connection in; one that arrives after closeAll() is closed.
    void add(const std::shared_ptr<FramedSocket>& connection);
    // Called by a connection as it goes away.
    void remove(const FramedSocket* connection);
    // Closes every connection held now and every one added later.
    void closeAll();
    std::size_t count() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_map<const FramedSocket*, std::weak_ptr<FramedSocket>> m_connections;
    bool m_closing = false;
};

} // namespace vp::server
