#include "Relay.h"

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kNotYet[] = "This server cannot do that yet.";

} // namespace

// FIXME: the relay is not built yet; both sides are refused.
asio::awaitable<Next> serveProxyRequest(Conversation& conversation, const FrameHeader&) {
    co_return co_await conversation.reject(kNotYet, "a relay request, which this server cannot serve yet");
}

asio::awaitable<Next> serveProxyAnswer(Conversation& conversation, const FrameHeader&) {
    co_return co_await conversation.reject(kNotYet, "a relay answer, which this server cannot serve yet");
}

} // namespace vp::server
