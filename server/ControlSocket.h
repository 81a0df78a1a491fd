#pragma once
// The local control socket of a running server: a stream socket in the file
// system (mode 0600, so only the server's own user can use it) that takes
// one line per connection, "announce <text>", and answers "ok" or
// "error <reason>". The admin command is its only client.
//
// start, stop and the destructor run on the io_context's thread (or while
// it does not run); the context runs on one thread.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace boost::asio {
class io_context;
}

namespace vp::server {

class ControlSocket {
public:
    // A request line longer than this is refused; it bounds what a local
    // client can make the server hold.
    static constexpr std::size_t kMaxLineLength = 4096;
    // A client that has not sent its line by then is dropped.
    static constexpr std::chrono::seconds kRequestTimeout{10};

    using AnnounceHandler = std::function<void(std::string text)>;

    ControlSocket(boost::asio::io_context& io, std::string path, AnnounceHandler onAnnounce);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Creates the socket file and starts taking connections. A stale file
    // of a server that is gone is replaced; false (logged) when another
    // server answers on it, the path is not a socket, or it cannot be made.
    bool start();
    // Closes the socket and every open connection and removes the file.
    void stop();

    enum class SendResult { Answered, NoServer, Failed };
    // The client side: sends one request line and reads the answer line
    // (without its line feed) into answer; on NoServer and Failed, answer
    // says what went wrong. Waits at most timeout in all.
    static SendResult send(const std::string& path, const std::string& line, std::string& answer,
                           std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    struct Impl;
    std::shared_ptr<Impl> m_impl; // shared with the running coroutines
};

} // namespace vp::server
