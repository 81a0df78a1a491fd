#pragma once
// One TCP connection as the wire sees it: 12-byte blocks, replies and
// payloads, with every read and write bounded by a deadline. A watchdog
// timer on the connection's strand closes the socket when the deadline
// passes, so the operation in progress fails and failure() says it timed
// out. Everything but closeSoon() runs on the connection's strand.

#include "foundation/TextString.h"
#include "wire/FrameHeader.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vp::server {

class LiveConnections;

using Clock = std::chrono::steady_clock;
// A limit that never runs out.
inline constexpr Clock::duration kNoLimit = Clock::duration::max();

enum class ReplyOutcome { Yes, No, Failed };

class FramedSocket : public std::enable_shared_from_this<FramedSocket> {
public:
    // Takes over a socket whose executor is a strand of its own (accepted,
    // or not yet connected) and starts its watchdog.
    static std::shared_ptr<FramedSocket> create(boost::asio::ip::tcp::socket socket,
                                                std::shared_ptr<LiveConnections> live);
    ~FramedSocket();
    FramedSocket(const FramedSocket&) = delete;
    FramedSocket& operator=(const FramedSocket&) = delete;

    boost::asio::any_io_executor executor() { return m_socket.get_executor(); }
    // The other side's dotted address as this server sees it (an IPv4
    // address carried in IPv6 reads as IPv4); empty until connected.
    const std::string& peerAddress() const { return m_peerAddress; }

    boost::asio::awaitable<bool> connect(const boost::asio::ip::tcp::endpoint& endpoint, Clock::duration limit);
    // Exactly bytes.size() bytes within limit.
    boost::asio::awaitable<bool> read(std::span<uint8_t> bytes, Clock::duration limit);
    // What arrives first, at least one byte; 0 when nothing came (failure()
    // says why, a cancel() included).
    boost::asio::awaitable<std::size_t> readSome(std::span<uint8_t> bytes, Clock::duration limit);
    // The block that opens a request: its first byte may take firstByte (a
    // connection waiting for its next request), the other eleven rest.
    boost::asio::awaitable<std::optional<FrameHeader>> readHeader(Clock::duration firstByte, Clock::duration rest);
    // A payload the other side announced: refused before anything is
    // allocated when length is above limit.
    boost::asio::awaitable<bool> readPayload(uint32_t length, uint32_t limit, ByteBuffer& payload,
                                             Clock::duration within);
    // A reply from a client: this system's version and a short text, which
    // is read and dropped.
    boost::asio::awaitable<ReplyOutcome> readReply(Clock::duration limit);

    // Waits without reading; false when the connection closed meanwhile.
    boost::asio::awaitable<bool> pause(Clock::duration duration);

    // For a copy the kernel makes between two sockets: the descriptor in
    // non-blocking mode (-1 once closed), and a wait until it can be read or
    // written without blocking (false when it closed or the wait was
    // cancelled). A wait started when the socket is ready ends at once.
    int nonBlockingHandle();
    boost::asio::awaitable<bool> awaitReady(boost::asio::socket_base::wait_type wait);

    boost::asio::awaitable<bool> write(std::span<const uint8_t> bytes, Clock::duration limit);

    // readSome and write for a caller that is not a coroutine: done(count)
    // or done(written) runs on the strand. What waits for most of its life,
    // a logged-in session, then holds only its handler meanwhile.
    template <typename Done>
    void readSomeThen(std::span<uint8_t> bytes, Clock::duration limit, Done done) {
        setDeadline(limit);
        m_socket.async_read_some(boost::asio::buffer(bytes.data(), bytes.size()),
                                 [self = shared_from_this(), done = std::move(done)](
                                     const boost::system::error_code& error, std::size_t count) mutable {
                                     done(self->settle(error) ? count : 0);
                                 });
    }
    template <typename Done>
    void writeThen(std::span<const uint8_t> bytes, Clock::duration limit, Done done) {
        setDeadline(limit);
        boost::asio::async_write(m_socket, boost::asio::buffer(bytes.data(), bytes.size()),
                                 [self = shared_from_this(), done = std::move(done)](
                                     const boost::system::error_code& error, std::size_t) mutable {
                                     done(self->settle(error));
                                 });
    }
    // {1.3.0, flag, length} and the text: every reply of this server carries
    // its own version, whatever the request carried.
    boost::asio::awaitable<bool> sendReply(uint32_t flag, std::string_view text, Clock::duration limit);
    // {1.3.0, code, length} alone, for a payload that follows the other
    // side's YES.
    boost::asio::awaitable<bool> sendHeader(uint32_t code, uint32_t length, Clock::duration limit);
    // {1.3.0, code, length} and the payload at once.
    boost::asio::awaitable<bool> sendBlock(uint32_t code, std::span<const uint8_t> payload, Clock::duration limit);

    // Makes the read or write in progress fail without closing.
    void cancel();
    void close();
    // From any thread: closes on the strand.
    void closeSoon();
    bool isOpen() const { return m_socket.is_open(); }
    bool timedOut() const { return m_timedOut; }
    // Why the last operation failed, for the log line.
    const std::string& failure() const { return m_failure; }

private:
    FramedSocket(boost::asio::ip::tcp::socket socket, std::shared_ptr<LiveConnections> live);
    void watch();
    void setDeadline(Clock::duration limit);
    bool settle(const boost::system::error_code& error);

    boost::asio::ip::tcp::socket m_socket;
    boost::asio::steady_timer m_watchdog;
    // Made by the first pause: few connections ever wait without reading.
    std::optional<boost::asio::steady_timer> m_pause;
    Clock::time_point m_deadline = Clock::time_point::max();
    std::shared_ptr<LiveConnections> m_live;
    std::string m_peerAddress;
    std::string m_failure;
    bool m_timedOut = false;
};

// The dotted text of an address, IPv4 carried in IPv6 as IPv4.
std::string dottedAddress(const boost::asio::ip::address& address);

} // namespace vp::server
