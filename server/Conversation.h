#pragma once
// One connection to the server port, from its first request to its close.
// It reads request after request and hands each to the exchange its code
// names; an exchange may turn the conversation into a logged-in session or
// a relay channel for the rest of its life. Whatever ends it (the other
// side, a time-out, bad input, a replacing log-in, the server's stop) ends
// it through one teardown, which takes a session offline and writes the one
// log line.

#include "FramedSocket.h"
#include "ServerState.h"

#include <boost/asio/awaitable.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vp::server {

// What a conversation does after an exchange: read another request, end,
// or carry on as a logged-in session or a relay channel for the rest of its
// life. The last two are carried from the conversation's own loop, so that
// nothing of the exchange that opened them stays held while they last.
enum class Next { Another, End, Session, Channel };

// Session requests carry names and passwords; anything longer is refused
// before it is read.
inline constexpr uint32_t kMaxRequestPayload = 4096;

// The NO of a request whose payload does not hold its layout.
inline constexpr char kMalformedRequest[] = "The server could not read this request.";

// A block for the client behind a proxy, waiting to go over its channel.
struct ChannelPush {
    uint32_t code = 0;
    std::vector<uint8_t> payload;
    std::string what; // for the log line of a push that fails
};

// Received bytes as a text.
inline std::string asString(const TextString& text) { return std::string(text.c_str(), text.length()); }
inline std::string asString(const ByteBuffer& bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class Conversation : public std::enable_shared_from_this<Conversation> {
public:
    Conversation(std::shared_ptr<ServerState> state, std::shared_ptr<FramedSocket> socket);
    // Runs the conversation on its connection's strand.
    void start();

    ServerState& state() { return *m_state; }
    const std::shared_ptr<ServerState>& sharedState() const { return m_state; }
    const ServerConfig& config() const { return m_state->config; }
    FramedSocket& socket() { return *m_socket; }
    // The time-out of every block once it has begun.
    Clock::duration blockLimit() const { return config().headerTimeout; }

    // ---- For the exchanges, on the strand ----

    // A reply within the block time-out; false when it could not go out.
    boost::asio::awaitable<bool> reply(bool yes, std::string_view text = {});
    // False, after a NO that ends the conversation, when the header
    // announces more than limit bytes: refused before anything is read.
    boost::asio::awaitable<bool> admitLength(const FrameHeader& header, uint32_t limit = kMaxRequestPayload);
    // The payload the header announced (its length admitted).
    boost::asio::awaitable<bool> receivePayload(const FrameHeader& header, ByteBuffer& payload);
    // admitLength, the first YES, then receivePayload.
    boost::asio::awaitable<bool> acceptPayload(const FrameHeader& header, ByteBuffer& payload,
                                               uint32_t limit = kMaxRequestPayload);
    // A NO with the reason; the conversation goes on.
    boost::asio::awaitable<Next> decline(std::string_view reason);
    // A NO with the reason, and the conversation ends; why goes to the log.
    boost::asio::awaitable<Next> reject(std::string_view reason, std::string why);
    // Waits as long as the log-in throttle asks for this connection's address.
    boost::asio::awaitable<void> waitOutThrottle();
    // Records why the conversation ends, for the log line; a reason given
    // by end() stays.
    void endBecause(std::string why);

    // From now on the teardown takes this login offline.
    void holdSession(std::string key, uint64_t loginId);
    // From now on this conversation is the relay channel of the user.
    void holdChannel(std::string key) { m_channelOf = std::move(key); }
    // The next block waiting for the channel, if any.
    std::optional<ChannelPush> takeChannelPush();
    bool hasChannelPush() const { return !m_channelPushes.empty(); }
    // Marks the wait between channel pushes, which a new push interrupts.
    void setChannelIdle(bool idle) { m_channelIdle = idle; }
    // The most blocks waiting for one channel; a push beyond is dropped.
    static constexpr std::size_t kMaxChannelBacklog = 256;

    // ---- From any thread ----

    // Ends the conversation (a replacing log-in, a session that went away).
    void end(std::string why);
    // Queues a block for the relay channel this conversation carries.
    void queueChannelPush(ChannelPush push);

    // The one way out, on the strand: run() ends here, and so does a
    // session's last handler.
    void teardown();

private:
    boost::asio::awaitable<void> run();
    boost::asio::awaitable<Next> serve(const FrameHeader& header);

    std::shared_ptr<ServerState> m_state;
    std::shared_ptr<FramedSocket> m_socket;
    std::string m_endReason;
    bool m_reasonFixed = false;
    bool m_badInput = false;
    // Set while this conversation holds a login.
    std::string m_sessionKey;
    uint64_t m_loginId = 0;
    std::string m_channelOf;
    // A list holds nothing while empty, as almost every conversation is.
    std::list<ChannelPush> m_channelPushes;
    bool m_channelIdle = false;
};

} // namespace vp::server
