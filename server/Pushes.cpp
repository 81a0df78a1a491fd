#include "Pushes.h"

#include "Conversation.h"
#include "FramedSocket.h"
#include "ServerState.h"
#include "wire/SessionPayloads.h"
#include "wire/Wire.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>
#include <spdlog/spdlog.h>

#include <exception>
#include <utility>

namespace vp::server {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

std::vector<uint8_t> bytesOf(const PayloadWriter& payload) {
    if (!payload.ok()) return {};
    return std::vector<uint8_t>(payload.data(), payload.data() + payload.size());
}

// The exchange the client's peer port expects of a notice: the header, its
// YES, the payload, its second YES.
asio::awaitable<void> deliverToPeerPort(std::shared_ptr<FramedSocket> socket, tcp::endpoint endpoint,
                                        Clock::duration limit, uint32_t code, std::vector<uint8_t> payload,
                                        std::string what) {
    bool delivered = false;
    try {
        delivered = co_await socket->connect(endpoint, limit);
        if (delivered) delivered = co_await socket->sendHeader(code, static_cast<uint32_t>(payload.size()), limit);
        if (delivered) delivered = co_await socket->readReply(limit) == ReplyOutcome::Yes;
        if (delivered) delivered = co_await socket->write(payload, limit);
        if (delivered) delivered = co_await socket->readReply(limit) == ReplyOutcome::Yes;
    } catch (const std::exception& error) {
        spdlog::info("push of {} dropped: {}", what, error.what());
        socket->close();
        co_return;
    }
    if (!delivered) {
        const std::string why = socket->failure().empty() ? "refused" : socket->failure();
        spdlog::info("push of {} to {} dropped: {}", what, endpoint.address().to_string(), why);
    }
    socket->close();
}

} // namespace

void pushTo(const std::shared_ptr<ServerState>& state, const OnlineUser& client, uint32_t code,
            std::vector<uint8_t> payload, std::string what) {
    what += " to " + client.name;
    if (client.behindProxy) {
        if (const auto channel = client.channel.lock())
            channel->queueChannelPush(ChannelPush{code, std::move(payload), std::move(what)});
        else
            spdlog::info("push of {} dropped: no relay channel is open", what);
        return;
    }
    boost::system::error_code error;
    const auto address = asio::ip::make_address(client.address, error);
    if (error) {
        spdlog::info("push of {} dropped: no address to reach", what);
        return;
    }
    auto socket = FramedSocket::create(tcp::socket(asio::make_strand(state->io)), state->connections);
    const auto executor = socket->executor();
    asio::co_spawn(executor,
                   deliverToPeerPort(std::move(socket), tcp::endpoint(address, state->config.peerPort),
                                     state->config.headerTimeout, code, std::move(payload), std::move(what)),
                   asio::detached);
}

void pushPresence(const std::shared_ptr<ServerState>& state, const std::string& key, const OnlineUser& user,
                  bool online) {
    const std::string address = online ? user.reachableAddress() : kRelayOnlyAddress;
    for (const Watcher& watcher : state->presence.watchersOf(key)) {
        if (watcher.asker.loginId == user.loginId) continue;
        const PresenceNotice notice{watcher.target.user.c_str(), watcher.target.server.c_str(), address.c_str(),
                                    online ? 1u : 0u};
        pushTo(state, watcher.asker, wire::kContactStatus, bytesOf(contactStatusPayload(notice)),
               (online ? "online " : "offline ") + key);
    }
}

void pushAnnouncement(const std::shared_ptr<ServerState>& state, const std::string& text) {
    const std::vector<uint8_t> payload(text.begin(), text.end());
    for (const OnlineUser& client : state->presence.everyone())
        pushTo(state, client, wire::kAnnouncement, payload, "an announcement");
}

} // namespace vp::server
