#pragma once
// The server of the client's wire protocol: the listener on the server port
// and every conversation on it, presence and its pushes, the relay and the
// stored notes; and the web host on its own port. Runs on the io_context it is given; all of its work happens
// on that context's threads.

#include "ServerConfig.h"

#include <cstdint>
#include <memory>
#include <string>

namespace boost::asio {
class io_context;
}

namespace vp::server {

class Storage;

class Server {
public:
    Server(boost::asio::io_context& io, const ServerConfig& config, Storage& storage);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds the listener and the web host's and starts accepting; false
    // (logged) when an address cannot be had.
    bool start();
    // The bound port: the configured one, or the one picked for port 0.
    uint16_t port() const;
    // The web host's bound port.
    uint16_t webPort() const;
    // Sends the text as an announcement to every client online now.
    void announce(std::string text);
    // Closes the listeners, every conversation and every web connection;
    // the io_context then runs out of work.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace vp::server
