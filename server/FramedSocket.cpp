#include "FramedSocket.h"

#include "LiveConnections.h"
#include "wire/Payload.h"
#include "wire/ProtocolVersion.h"
#include "wire/Wire.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>

#include <array>
#include <vector>

namespace vp::server {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

// A client's reply carries no text the server needs; a longer one than this
// is not a reply of ours.
constexpr uint32_t kMaxReplyText = 1024;

auto collect(boost::system::error_code& error) { return asio::redirect_error(asio::use_awaitable, error); }

} // namespace

std::string dottedAddress(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

std::shared_ptr<FramedSocket> FramedSocket::create(tcp::socket socket, std::shared_ptr<LiveConnections> live) {
    std::shared_ptr<FramedSocket> framed(new FramedSocket(std::move(socket), std::move(live)));
    framed->m_live->add(framed);
    asio::dispatch(framed->executor(), [framed] { framed->watch(); });
    return framed;
}

FramedSocket::FramedSocket(tcp::socket socket, std::shared_ptr<LiveConnections> live)
    : m_socket(std::move(socket)), m_watchdog(m_socket.get_executor()),
      m_live(std::move(live)) {
    boost::system::error_code error;
    const auto remote = m_socket.remote_endpoint(error);
    if (!error) m_peerAddress = dottedAddress(remote.address());
    // The exchanges are small blocks, each waiting for its answer.
    m_socket.set_option(tcp::no_delay(true), error);
}

FramedSocket::~FramedSocket() { m_live->remove(this); }

// The watchdog holds the connection until it is closed: its wait holds a
// reference. It sleeps until the deadline it last saw; a nearer deadline
// wakes it early (setDeadline), a later one makes it sleep again. A plain
// handler rather than a coroutine, since every connection has one for its
// whole life.
void FramedSocket::watch() {
    if (!m_socket.is_open()) return;
    if (m_deadline <= Clock::now()) {
        m_timedOut = true;
        close();
        return;
    }
    m_watchdog.expires_at(m_deadline);
    m_watchdog.async_wait([self = shared_from_this()](const boost::system::error_code&) { self->watch(); });
}

void FramedSocket::setDeadline(Clock::duration limit) {
    const auto now = Clock::now();
    m_deadline = limit >= Clock::time_point::max() - now ? Clock::time_point::max() : now + limit;
    if (m_deadline < m_watchdog.expiry()) m_watchdog.cancel();
}

// Every operation ends here: the deadline is lifted and a failure named.
bool FramedSocket::settle(const boost::system::error_code& error) {
    m_deadline = Clock::time_point::max();
    if (!error) return true;
    if (m_timedOut) m_failure = "timed out";
    else if (error == asio::error::eof) m_failure = "closed by the other side";
    else m_failure = error.message();
    return false;
}

asio::awaitable<bool> FramedSocket::connect(const tcp::endpoint& endpoint, Clock::duration limit) {
    boost::system::error_code error;
    setDeadline(limit);
    co_await m_socket.async_connect(endpoint, collect(error));
    if (!settle(error)) co_return false;
    m_peerAddress = dottedAddress(endpoint.address());
    m_socket.set_option(tcp::no_delay(true), error);
    co_return true;
}

asio::awaitable<bool> FramedSocket::read(std::span<uint8_t> bytes, Clock::duration limit) {
    boost::system::error_code error;
    setDeadline(limit);
    co_await asio::async_read(m_socket, asio::buffer(bytes.data(), bytes.size()), collect(error));
    co_return settle(error);
}

asio::awaitable<std::size_t> FramedSocket::readSome(std::span<uint8_t> bytes, Clock::duration limit) {
    boost::system::error_code error;
    setDeadline(limit);
    const std::size_t count =
        co_await m_socket.async_read_some(asio::buffer(bytes.data(), bytes.size()), collect(error));
    co_return settle(error) ? count : 0;
}

asio::awaitable<std::optional<FrameHeader>> FramedSocket::readHeader(Clock::duration firstByte, Clock::duration rest) {
    std::array<uint8_t, FrameHeader::kSize> block{};
    if (const bool done = co_await read(std::span(block).first(1), firstByte); !done) co_return std::nullopt;
    if (const bool done = co_await read(std::span(block).subspan(1), rest); !done) co_return std::nullopt;
    FrameHeader header;
    FrameHeader::decode(block.data(), FrameHeader::kSize, header);
    co_return header;
}

asio::awaitable<bool> FramedSocket::readPayload(uint32_t length, uint32_t limit, ByteBuffer& payload,
                                                Clock::duration within) {
    if (length > limit) {
        m_failure = "announced " + std::to_string(length) + " bytes, more than the " + std::to_string(limit) +
                    " this request may carry";
        co_return false;
    }
    if (!allocatePayload(payload, length)) {
        m_failure = "no memory for " + std::to_string(length) + " bytes";
        co_return false;
    }
    if (length == 0) co_return true;
    co_return co_await read(std::span(payload.data(), length), within);
}

asio::awaitable<ReplyOutcome> FramedSocket::readReply(Clock::duration limit) {
    std::array<uint8_t, FrameHeader::kSize> block{};
    if (const bool done = co_await read(block, limit); !done) co_return ReplyOutcome::Failed;
    FrameHeader header;
    FrameHeader::decode(block.data(), FrameHeader::kSize, header);
    if (header.version != ProtocolVersion::own().packed()) {
        m_failure = "a reply of another version";
        co_return ReplyOutcome::Failed;
    }
    ByteBuffer text;
    const bool received = co_await readPayload(header.length, kMaxReplyText, text, limit);
    if (!received) co_return ReplyOutcome::Failed;
    co_return header.code != wire::kNo ? ReplyOutcome::Yes : ReplyOutcome::No;
}

asio::awaitable<bool> FramedSocket::pause(Clock::duration duration) {
    if (!m_pause) m_pause.emplace(m_socket.get_executor());
    m_pause->expires_after(duration);
    boost::system::error_code ignored;
    co_await m_pause->async_wait(collect(ignored));
    co_return isOpen();
}

int FramedSocket::nonBlockingHandle() {
    if (!m_socket.is_open()) return -1;
    boost::system::error_code error;
    if (!m_socket.native_non_blocking()) m_socket.native_non_blocking(true, error);
    return error ? -1 : m_socket.native_handle();
}

asio::awaitable<bool> FramedSocket::awaitReady(tcp::socket::wait_type wait) {
    boost::system::error_code error;
    co_await m_socket.async_wait(wait, collect(error));
    co_return settle(error);
}

asio::awaitable<bool> FramedSocket::write(std::span<const uint8_t> bytes, Clock::duration limit) {
    boost::system::error_code error;
    setDeadline(limit);
    co_await asio::async_write(m_socket, asio::buffer(bytes.data(), bytes.size()), collect(error));
    co_return settle(error);
}

asio::awaitable<bool> FramedSocket::sendReply(uint32_t flag, std::string_view text, Clock::duration limit) {
    const auto header =
        FrameHeader{ProtocolVersion::own().packed(), flag, static_cast<uint32_t>(text.size())}.encode();
    std::vector<uint8_t> reply(header.begin(), header.end());
    reply.insert(reply.end(), text.begin(), text.end());
    co_return co_await write(reply, limit);
}

asio::awaitable<bool> FramedSocket::sendHeader(uint32_t code, uint32_t length, Clock::duration limit) {
    const auto header = FrameHeader{ProtocolVersion::own().packed(), code, length}.encode();
    co_return co_await write(header, limit);
}

asio::awaitable<bool> FramedSocket::sendBlock(uint32_t code, std::span<const uint8_t> payload, Clock::duration limit) {
    const auto header =
        FrameHeader{ProtocolVersion::own().packed(), code, static_cast<uint32_t>(payload.size())}.encode();
    std::vector<uint8_t> block(header.begin(), header.end());
    block.insert(block.end(), payload.begin(), payload.end());
    co_return co_await write(block, limit);
}

void FramedSocket::cancel() {
    boost::system::error_code ignored;
    m_socket.cancel(ignored);
}

void FramedSocket::close() {
    boost::system::error_code ignored;
    m_socket.shutdown(tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
    m_watchdog.cancel();
    if (m_pause) m_pause->cancel();
}

void FramedSocket::closeSoon() {
    asio::post(executor(), [self = shared_from_this()] { self->close(); });
}

} // namespace vp::server
