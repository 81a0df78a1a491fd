// A sender asks for a receiver by name; the receiver is sent a ticket over
// its relay channel or to its peer port and comes back with it on a
// connection of its own; the two connections are then joined.

#include "Relay.h"

#include "RelayJoin.h"
#include "RelayTickets.h"
#include "SessionExchanges.h"
#include "storage/Storage.h"
#include "storage/UserKey.h"
#include "wire/Wire.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/strand.hpp>
#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <array>
#include <exception>
#include <optional>
#include <utility>

namespace vp::server {

namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

constexpr char kNoRelayNow[] = "The server cannot relay this note at the moment. Please try again later.";
constexpr char kUnknownRelay[] = "This relay ticket answers no relay waiting here.";

std::string notAnsweredText(const std::string& name, const std::string& serverName) {
    return fmt::format("{}@{} did not answer.", name, serverName);
}

std::string unreachableText(const std::string& name, const std::string& serverName) {
    return fmt::format("{}@{} cannot be reached at the moment. Please try again later.", name, serverName);
}

// On every way out of the sender's exchange, a thrown one included, the
// ticket answers nothing more and the relay ends.
struct EndsRelay {
    RelayTickets& tickets;
    std::shared_ptr<RelayJoin> relay;
    std::string ticket;
    ~EndsRelay() {
        if (!ticket.empty()) tickets.withdraw(ticket);
        relay->end();
    }
};

// The peer port takes the request as any notice: the header, its YES, the
// ticket. The receiver then keeps the connection open while it relays;
// anything it sends on it (a NO) or its close means it could not start.
asio::awaitable<void> sendTicketToPeerPort(std::shared_ptr<FramedSocket> socket, tcp::endpoint endpoint,
                                           Clock::duration limit, std::string ticket, std::shared_ptr<RelayJoin> relay) {
    try {
        const std::span ticketBytes(reinterpret_cast<const uint8_t*>(ticket.data()), ticket.size());
        bool sent = co_await socket->connect(endpoint, limit);
        if (sent) {
            sent = co_await socket->sendHeader(wire::kProxyRequest, static_cast<uint32_t>(ticket.size()), limit);
        }
        if (sent) {
            const ReplyOutcome reply = co_await socket->readReply(limit);
            sent = reply == ReplyOutcome::Yes;
        }
        if (sent) {
            sent = co_await socket->write(ticketBytes, limit);
        }
        if (sent) {
            std::array<uint8_t, 1> answer{};
            co_await socket->readSome(answer, kNoLimit);
        } else {
            spdlog::info("relay request to {} failed: {}", endpoint.address().to_string(),
                         socket->failure().empty() ? "refused" : socket->failure());
        }
    } catch (const std::exception& error) {
        spdlog::info("relay request to {} failed: {}", endpoint.address().to_string(), error.what());
    }
    relay->refuse();
    socket->close();
}

// False when the receiver has no way to be told.
bool sendTicket(ServerState& state, const OnlineUser& receiver, const std::string& ticket,
                const std::shared_ptr<RelayJoin>& relay, const std::string& senderAddress) {
    if (receiver.behindProxy) {
        const auto channel = receiver.channel.lock();
        if (!channel) return false;
        channel->queueChannelPush(ChannelPush{wire::kProxyRequest, std::vector<uint8_t>(ticket.begin(), ticket.end()),
                                              "a relay request from " + senderAddress + " to " + receiver.name});
        return true;
    }
    boost::system::error_code error;
    const auto address = asio::ip::make_address(receiver.address, error);
    if (error) return false;
    auto socket = FramedSocket::create(tcp::socket(asio::make_strand(state.io)), state.connections);
    relay->holdNotice(socket);
    const auto executor = socket->executor();
    asio::co_spawn(executor,
                   sendTicketToPeerPort(std::move(socket), tcp::endpoint(address, state.config.peerPort),
                                        state.config.headerTimeout, ticket, relay),
                   asio::detached);
    return true;
}

asio::awaitable<std::optional<OnlineUser>> findReceiver(Conversation& conversation, const std::string& name,
                                                        std::string& refusal) {
    ServerState& state = conversation.state();
    const std::string& serverName = conversation.config().serverName;
    const auto key = userKey(name);
    if (key) {
        if (auto user = state.presence.find(*key)) co_return user;
    }
    bool registered = false;
    if (key) {
        auto lookUp = [&storage = state.storage, key = *key] { return storage.userExists(key); };
        registered = co_await state.offload(lookUp);
    }
    if (registered) refusal = notOnlineText(name, serverName);
    else refusal = unknownUserText(name, serverName);
    co_return std::nullopt;
}

} // namespace

// The sender's exchange: YES to the header, the receiver's name, and the
// final YES once the receiver has answered, after which the connection
// carries the receiver's side. Refusals are NO replies its user reads.
asio::awaitable<Next> serveProxyRequest(Conversation& conversation, const FrameHeader& header) {
    ServerState& state = conversation.state();
    const ServerConfig& config = conversation.config();
    const std::string senderAddress = conversation.socket().peerAddress();
    ByteBuffer payload;
    const bool accepted = co_await conversation.acceptPayload(header, payload);
    if (!accepted) co_return Next::End;
    const std::string asked = asString(payload);
    const std::string name = asked.substr(0, asked.find('@'));
    std::string refusal;
    const auto receiver = co_await findReceiver(conversation, name, refusal);
    if (!receiver) {
        co_return co_await conversation.decline(refusal);
    }

    const auto relay = std::make_shared<RelayJoin>(conversation.socket().shared_from_this());
    EndsRelay ends{state.relays, relay, state.relays.issue(relay)};
    const std::string& ticket = ends.ticket;
    if (ticket.empty()) {
        co_return co_await conversation.decline(kNoRelayNow);
    }
    if (!sendTicket(state, *receiver, ticket, relay, senderAddress)) {
        co_return co_await conversation.decline(unreachableText(name, config.serverName));
    }
    auto outcome = co_await relay->awaitAnswer(config.relayTimeout);
    // An answer that took the ticket as the wait ended is on its way.
    if ((outcome == RelayJoin::Outcome::Expired || outcome == RelayJoin::Outcome::Refused) &&
        !state.relays.withdraw(ticket)) {
        outcome = co_await relay->awaitAnswer(conversation.blockLimit());
    }
    switch (outcome) {
    case RelayJoin::Outcome::SenderLeft:
        conversation.endBecause("the sender left while " + receiver->name + " was asked to answer a relay");
        co_return Next::End;
    case RelayJoin::Outcome::Expired:
        spdlog::info("relay from {} to {}: no answer", senderAddress, receiver->name);
        co_return co_await conversation.decline(notAnsweredText(name, config.serverName));
    case RelayJoin::Outcome::Refused:
        spdlog::info("relay from {} to {}: the receiver could not start it", senderAddress, receiver->name);
        co_return co_await conversation.decline(unreachableText(name, config.serverName));
    case RelayJoin::Outcome::Answered:
        break;
    }
    const bool replied = co_await conversation.reply(true);
    if (!replied) co_return Next::End;
    spdlog::info("relay from {} to {} joined", senderAddress, receiver->name);
    co_await relay->carryFromSender(config.idleTimeout);
    conversation.endBecause(relay->endedSilent() ? "the relay was silent for too long" : "the relay ended");
    co_return Next::End;
}

// The receiver's exchange: YES to the header, the ticket it was sent, and a
// final YES, after which the connection carries the sender's side.
asio::awaitable<Next> serveProxyAnswer(Conversation& conversation, const FrameHeader& header) {
    ByteBuffer ticket;
    const bool accepted = co_await conversation.acceptPayload(header, ticket, wire::kMaxTicketLength);
    if (!accepted) co_return Next::End;
    const auto relay = conversation.state().relays.claim(asString(ticket));
    if (!relay) {
        co_return co_await conversation.reject(kUnknownRelay, "a relay answer with a ticket nobody waits for");
    }
    const bool replied = co_await conversation.reply(true);
    if (!replied) {
        relay->refuse();
        co_return Next::End;
    }
    relay->answer(conversation.socket().shared_from_this());
    // The sender has only its final YES to get before it may talk.
    const bool started = co_await relay->awaitStart(2 * conversation.blockLimit());
    if (!started) {
        conversation.endBecause("the sender of the relay was gone");
        co_return Next::End;
    }
    co_await relay->carryFromReceiver();
    conversation.endBecause(relay->endedSilent() ? "the relay was silent for too long" : "the relay ended");
    co_return Next::End;
}

} // namespace vp::server
