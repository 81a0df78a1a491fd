#pragma once
// The server's web host, on its own port. It takes the client's one-line
// requests ("get <path>\n", no version, no headers; the reply is the bare
// text, ended by the close): the server list and the account form. Any
// other request is HTTP/1.1 from a browser: a home page, a sign-up page and
// a people search. One request per connection; every read is bounded in
// size and time, and each request is one log line.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vp::server {

struct ServerState;

class WebHost {
public:
    // A client's request line, and a browser's request line with its
    // headers, may be this long; a browser's form this long.
    static constexpr std::size_t kMaxRequestHead = 8192;
    static constexpr std::size_t kMaxRequestBody = 16384;
    // The most people a search lists.
    static constexpr std::size_t kMaxSearchResults = 100;

    explicit WebHost(std::shared_ptr<ServerState> state);
    ~WebHost();
    WebHost(const WebHost&) = delete;
    WebHost& operator=(const WebHost&) = delete;

    // Binds the listen address on the web port and starts accepting;
    // false (logged) when the port cannot be had.
    bool start();
    // The bound port: the configured one, or the one picked for port 0.
    uint16_t port() const;
    // Closes the listener and every open connection, from any thread.
    void stop();

    struct Impl;

private:
    std::shared_ptr<Impl> m_impl;
};

} // namespace vp::server
