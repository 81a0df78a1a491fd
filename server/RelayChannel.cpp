#include "RelayChannel.h"

#include "wire/ProtocolVersion.h"
#include "wire/Wire.h"

#include <spdlog/spdlog.h>

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kUnknownTicket[] = "This relay ticket belongs to no session here. Please log in again.";

// On the channel the client reads each block whole before it answers: a
// presence change is then sent a second time after the client's YES, and
// the client's second YES ends it. Other blocks get no answer.
asio::awaitable<bool> deliverOverChannel(Conversation& conversation, const ChannelPush& push) {
    FramedSocket& socket = conversation.socket();
    const auto limit = conversation.blockLimit();
    if (const bool done = co_await socket.sendBlock(push.code, push.payload, limit); !done) co_return false;
    if (push.code != wire::kContactStatus) co_return true;
    if (const auto result = co_await socket.readReply(limit); result != ReplyOutcome::Yes) co_return false;
    if (const bool done = co_await socket.write(push.payload, limit); !done) co_return false;
    co_return co_await socket.readReply(limit) == ReplyOutcome::Yes;
}

// A client that could not start a relay it was asked for over the channel
// may say so with a NO, which the channel reads and lets go: the sender's
// wait ends on its own. first is the block's first byte, already read.
asio::awaitable<bool> dropRefusal(Conversation& conversation, uint8_t first) {
    constexpr uint32_t kMaxReason = 1024;
    std::array<uint8_t, FrameHeader::kSize> block{first};
    const bool read = co_await conversation.socket().read(std::span(block).subspan(1), conversation.blockLimit());
    if (!read) co_return false;
    FrameHeader header;
    FrameHeader::decode(block.data(), FrameHeader::kSize, header);
    if (header.version != ProtocolVersion::own().packed() || header.code != wire::kNo ||
        header.length > kMaxReason)
        co_return false;
    ByteBuffer reason;
    co_return co_await conversation.socket().readPayload(header.length, kMaxReason, reason,
                                                         conversation.blockLimit());
}

} // namespace

asio::awaitable<Next> serveOpenChannel(Conversation& conversation, const FrameHeader& header) {
    ByteBuffer ticket;
    const bool accepted = co_await conversation.acceptPayload(header, ticket, wire::kMaxTicketLength);
    if (!accepted) co_return Next::End;
    const auto opened = conversation.state().presence.openChannel(asString(ticket), conversation.weak_from_this());
    if (!opened) co_return co_await conversation.reject(kUnknownTicket, "a relay channel with an unknown ticket");
    if (const auto previous = opened->previous.lock()) previous->end("replaced by a new relay channel");
    conversation.holdChannel(opened->key);
    if (const bool done = co_await conversation.reply(true); !done) co_return Next::End;
    spdlog::info("{} from {}: relay channel open", opened->key, conversation.socket().peerAddress());
    co_return Next::Channel;
}

// Between pushes the channel is read, so that the client's close is seen at
// once; the client sends nothing unasked, and a new push ends the read.
asio::awaitable<void> carryChannel(Conversation& conversation) {
    FramedSocket& socket = conversation.socket();
    for (;;) {
        while (auto push = conversation.takeChannelPush()) {
            if (const bool done = co_await deliverOverChannel(conversation, *push); !done) {
                spdlog::info("push of {} over the relay channel dropped: {}", push->what,
                             socket.failure().empty() ? "refused" : socket.failure());
                conversation.endBecause("a push failed");
                co_return;
            }
        }
        std::array<uint8_t, 1> stray{};
        conversation.setChannelIdle(true);
        const std::size_t count = co_await socket.readSome(stray, kNoLimit);
        conversation.setChannelIdle(false);
        if (count > 0) {
            if (const bool done = co_await dropRefusal(conversation, stray[0]); done) continue;
            conversation.endBecause("the client sent bytes nobody asked for");
            co_return;
        }
        if (!socket.isOpen() || !conversation.hasChannelPush()) {
            conversation.endBecause(socket.failure());
            co_return;
        }
    }
}

} // namespace vp::server
