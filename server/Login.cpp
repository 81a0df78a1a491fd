// The log-in and the session it opens: the client's keep-alive bytes each
// answered with the interval the server expects, until the client goes
// silent for two intervals, closes, or a newer log-in replaces it.

#include "Pushes.h"
#include "SessionExchanges.h"
#include "storage/PasswordHash.h"
#include "storage/Storage.h"
#include "storage/UserKey.h"
#include "wire/SessionPayloads.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <array>
#include <chrono>

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kNoTicket[] = "The server cannot log you in at the moment. Please try again later.";

} // namespace

// The second YES tells the client its address as this server sees it: a
// client that finds its own address there takes pushes on its peer port,
// any other asks for a relay ticket with its payload. The ticket is known
// to the presence registry before it goes out, since the client opens its
// channel as soon as it has it, maybe before the final YES arrives.
asio::awaitable<Next> serveLogin(Conversation& conversation, const FrameHeader& header) {
    ServerState& state = conversation.state();
    FramedSocket& socket = conversation.socket();
    const std::string address = socket.peerAddress();
    if (const bool done = co_await conversation.admitLength(header); !done) co_return Next::End;
    if (const bool done = co_await conversation.reply(true); !done) co_return Next::End;
    if (const bool done = co_await conversation.reply(true, address); !done) co_return Next::End;
    ByteBuffer payload;
    if (const bool done = co_await conversation.receivePayload(header, payload); !done) co_return Next::End;
    LoginRequest request;
    if (!parseLoginPayload(payload, request))
        co_return co_await conversation.reject(kMalformedRequest, "a malformed log-in");
    const std::string name = asString(request.userName);
    std::string problem;
    const auto key = userKey(name, &problem);
    if (!key) co_return co_await conversation.reject(problem, "a log-in with an impossible user name");

    co_await conversation.waitOutThrottle();
    auto checkPassword = [&storage = state.storage, key = *key, password = asString(request.password)] {
        const auto hash = storage.passwordHash(key);
        return hash && verifyPassword(*hash, password);
    };
    const bool accepted = co_await state.offload(checkPassword);
    if (!accepted) {
        state.throttle.failed(address, Clock::now());
        co_return co_await conversation.reject(kWrongLogin, "a failed log-in as " + name);
    }
    state.throttle.succeeded(address);

    OnlineUser user;
    user.loginId = state.nextLoginId++;
    user.name = name;
    user.address = address;
    user.behindProxy = request.behindProxy != 0;
    user.session = conversation.weak_from_this();
    if (user.behindProxy) {
        user.ticket = randomTicket();
        if (user.ticket.empty()) co_return co_await conversation.reject(kNoTicket, "no relay ticket could be made");
    }
    const auto replaced = state.presence.enter(*key, user);
    conversation.holdSession(*key, user.loginId);
    if (replaced) {
        if (const auto earlier = replaced->session.lock()) earlier->end("replaced by a new log-in from " + address);
        if (const auto channel = replaced->channel.lock()) channel->end("its session was replaced");
    }
    if (user.behindProxy) {
        if (const bool done = co_await conversation.reply(true, user.ticket); !done) co_return Next::End;
    }
    if (const bool done = co_await conversation.reply(true, conversation.config().greeting); !done) co_return Next::End;
    spdlog::info("{} logged in from {}{}", name, address, user.behindProxy ? ", reachable through the relay" : "");
    pushPresence(conversation.sharedState(), *key, user, true);
    co_return Next::Session;
}

namespace {

// A logged-in session between keep-alives. It runs as plain handlers rather
// than a coroutine: thousands of sessions wait here for most of their
// lives, and a waiting handler holds only this.
struct KeptSession {
    std::shared_ptr<Conversation> conversation;
    Clock::duration silence{};
    std::array<uint8_t, 16> received{};
    std::array<uint8_t, 16> answers{};
};

void endSession(KeptSession& session, std::string why) {
    session.conversation->endBecause(std::move(why));
    session.conversation->teardown();
}

void awaitKeepAlive(std::shared_ptr<KeptSession> session) {
    session->conversation->socket().readSomeThen(session->received, session->silence, [session](std::size_t count) {
        FramedSocket& socket = session->conversation->socket();
        if (count == 0)
            return endSession(*session, socket.timedOut() ? "silent for two keep-alive intervals" : socket.failure());
        socket.writeThen(std::span(session->answers).first(count), session->conversation->blockLimit(),
                         [session](bool written) mutable {
                             if (written) return awaitKeepAlive(std::move(session));
                             endSession(*session, "answering a keep-alive: " + session->conversation->socket().failure());
                         });
    });
}

} // namespace

// Each byte the client sends is answered with one byte, the interval in
// seconds the server expects; several bytes that arrive together get as
// many answers. Two intervals without a byte end the session.
void keepSessionAlive(std::shared_ptr<Conversation> conversation) {
    auto session = std::make_shared<KeptSession>();
    const auto interval = static_cast<uint8_t>(std::clamp<uint32_t>(conversation->config().keepAliveSeconds, 1, 255));
    session->silence = std::chrono::seconds(2 * interval);
    session->answers.fill(interval);
    session->conversation = std::move(conversation);
    awaitKeepAlive(std::move(session));
}

} // namespace vp::server
