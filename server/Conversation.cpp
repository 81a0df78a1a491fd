#include "Conversation.h"

#include "Pushes.h"
#include "Relay.h"
#include "RelayChannel.h"
#include "SessionExchanges.h"
#include "StoredNotes.h"
#include "wire/ProtocolVersion.h"
#include "wire/Wire.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/post.hpp>
#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <exception>
#include <utility>

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kTooLong[] = "The request is too long for this server.";
constexpr char kUnknownRequest[] = "This server does not know that request.";

} // namespace

Conversation::Conversation(std::shared_ptr<ServerState> state, std::shared_ptr<FramedSocket> socket)
    : m_state(std::move(state)), m_socket(std::move(socket)) {}

void Conversation::start() {
    asio::co_spawn(m_socket->executor(), [self = shared_from_this()] { return self->run(); }, asio::detached);
}

// Requests follow one another until an exchange ends the conversation or no
// next request comes: a connection waiting for its next request may be
// silent for the idle time-out, and a block once begun must be complete
// within the header time-out. Nothing thrown inside leaves this function.
asio::awaitable<void> Conversation::run() {
    try {
        for (;;) {
            const auto header = co_await m_socket->readHeader(config().idleTimeout, config().headerTimeout);
            if (!header) {
                endBecause("waiting for a request: " + m_socket->failure());
                break;
            }
            const Next next = co_await serve(*header);
            if (next == Next::Session) {
                // The session goes on in handlers of its own, which end it
                // through the teardown.
                keepSessionAlive(shared_from_this());
                co_return;
            }
            if (next == Next::Channel) co_await carryChannel(*this);
            if (next != Next::Another) break;
        }
    } catch (const std::exception& error) {
        m_badInput = true;
        endBecause(std::string("failed: ") + error.what());
    }
    teardown();
}

asio::awaitable<Next> Conversation::serve(const FrameHeader& header) {
    // A client of another version reads an empty NO as the other side
    // speaking another version, and tells its user so in its own words.
    if (header.version != ProtocolVersion::own().packed())
        co_return co_await reject("", fmt::format("a request of version word {:08X}", header.version));
    switch (header.code) {
    case wire::kLogin:
        co_return co_await serveLogin(*this, header);
    case wire::kLocate:
        co_return co_await serveLocate(*this, header);
    case wire::kChangePassword:
        co_return co_await serveChangePassword(*this, header);
    case wire::kQueryStatus:
        co_return co_await serveQueryStatus(*this, header);
    case wire::kOpenChannel:
        co_return co_await serveOpenChannel(*this, header);
    case wire::kProxyRequest:
        co_return co_await serveProxyRequest(*this, header);
    case wire::kProxyAnswer:
        co_return co_await serveProxyAnswer(*this, header);
    case wire::kLeaveNote:
        co_return co_await serveLeaveNote(*this, header);
    case wire::kNoteDownLoad:
        co_return co_await serveNoteDownLoad(*this, header);
    default:
        co_return co_await reject(kUnknownRequest, fmt::format("a request with the unknown code {}", header.code));
    }
}

// The one way out: the connection closes, a login goes offline (unless a
// newer login of the user replaced it) and its watchers hear of it, and one
// line tells why the conversation ended.
void Conversation::teardown() {
    m_socket->close();
    const std::string& peer = m_socket->peerAddress();
    if (!m_sessionKey.empty()) {
        const auto left = m_state->presence.leave(m_sessionKey, m_loginId);
        if (!left) {
            spdlog::info("{} from {}: an earlier session ended ({})", m_sessionKey, peer, m_endReason);
            return;
        }
        if (const auto channel = left->channel.lock()) channel->end("its session ended");
        pushPresence(m_state, m_sessionKey, *left, false);
        spdlog::info("{} from {} went offline ({})", left->name, peer, m_endReason);
    } else if (!m_channelOf.empty()) {
        spdlog::info("{} from {}: relay channel closed ({})", m_channelOf, peer, m_endReason);
    } else if (m_badInput) {
        spdlog::warn("{}: conversation ended: {}", peer, m_endReason);
    } else if (m_socket->timedOut()) {
        spdlog::info("{}: conversation ended: {}", peer, m_endReason);
    } else {
        spdlog::debug("{}: conversation ended: {}", peer, m_endReason);
    }
}

void Conversation::endBecause(std::string why) {
    if (!m_reasonFixed) m_endReason = std::move(why);
}

// g++ 12 miscompiles a conditional expression inside a co_await in a
// condition, so the flag is chosen first; the server's coroutines keep ?:
// out of co_await expressions.
asio::awaitable<bool> Conversation::reply(bool yes, std::string_view text) {
    const uint32_t flag = yes ? wire::kYes : wire::kNo;
    const bool sent = co_await m_socket->sendReply(flag, text, blockLimit());
    if (sent) co_return true;
    endBecause("replying: " + m_socket->failure());
    co_return false;
}

asio::awaitable<bool> Conversation::admitLength(const FrameHeader& header, uint32_t limit) {
    if (header.length <= limit) co_return true;
    co_await reject(kTooLong, fmt::format("a request {} announcing {} bytes", header.code, header.length));
    co_return false;
}

asio::awaitable<bool> Conversation::receivePayload(const FrameHeader& header, ByteBuffer& payload) {
    const bool received = co_await m_socket->readPayload(header.length, kMaxRequestPayload, payload, blockLimit());
    if (received) co_return true;
    endBecause(fmt::format("reading the payload of request {}: {}", header.code, m_socket->failure()));
    co_return false;
}

asio::awaitable<bool> Conversation::acceptPayload(const FrameHeader& header, ByteBuffer& payload, uint32_t limit) {
    if (const bool done = co_await admitLength(header, limit); !done) co_return false;
    if (const bool done = co_await reply(true); !done) co_return false;
    co_return co_await receivePayload(header, payload);
}

asio::awaitable<Next> Conversation::decline(std::string_view reason) {
    const bool sent = co_await reply(false, reason);
    co_return sent ? Next::Another : Next::End;
}

asio::awaitable<Next> Conversation::reject(std::string_view reason, std::string why) {
    m_badInput = true;
    co_await reply(false, reason);
    endBecause(std::move(why));
    co_return Next::End;
}

asio::awaitable<void> Conversation::waitOutThrottle() {
    const auto delay = m_state->throttle.delayFor(m_socket->peerAddress(), Clock::now());
    if (delay > Clock::duration::zero()) co_await m_socket->pause(delay);
}

void Conversation::holdSession(std::string key, uint64_t loginId) {
    m_sessionKey = std::move(key);
    m_loginId = loginId;
}

std::optional<ChannelPush> Conversation::takeChannelPush() {
    if (m_channelPushes.empty()) return std::nullopt;
    ChannelPush push = std::move(m_channelPushes.front());
    m_channelPushes.pop_front();
    return push;
}

void Conversation::end(std::string why) {
    asio::post(m_socket->executor(), [self = shared_from_this(), why = std::move(why)]() mutable {
        self->m_endReason = std::move(why);
        self->m_reasonFixed = true;
        self->m_socket->close();
    });
}

void Conversation::queueChannelPush(ChannelPush push) {
    asio::post(m_socket->executor(), [self = shared_from_this(), push = std::move(push)]() mutable {
        if (self->m_channelPushes.size() >= kMaxChannelBacklog) {
            spdlog::info("push of {} to {} dropped: the relay channel is behind", push.what, self->m_channelOf);
            return;
        }
        self->m_channelPushes.push_back(std::move(push));
        // The channel waits for the next push in a read, which this ends.
        if (self->m_channelIdle) self->m_socket->cancel();
    });
}

} // namespace vp::server
