// Notes left for a user who is not online, kept in the storage until that
// user downloads them. A note is kept only once the storage has committed
// it, and deleted only once the client has said it holds every note sent.

#include "StoredNotes.h"

#include "SessionExchanges.h"
#include "storage/PasswordHash.h"
#include "storage/Storage.h"
#include "storage/UserKey.h"
#include "wire/Payload.h"
#include "wire/StoredNotePayloads.h"
#include "wire/Wire.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kNoteTooLong[] = "This note is too long to be left on the server.";
constexpr char kNotStored[] = "The server could not keep this note at the moment. Please try again later.";
constexpr char kNotDelivered[] =
    "The server could not finish the download. Your notes stay on the server; please try again later.";

// A long block must keep moving: each piece within the block time-out,
// however long the whole takes on a slow line.
constexpr std::size_t kPieceBytes = 64 * 1024;

std::string quotaText(const std::string& name, const std::string& serverName) {
    return fmt::format("There is no more room on this server for notes to {}@{}. Please try again later.", name,
                       serverName);
}

asio::awaitable<bool> readInPieces(FramedSocket& socket, std::span<uint8_t> bytes, Clock::duration perPiece) {
    for (std::size_t at = 0; at < bytes.size(); at += kPieceBytes) {
        const bool read = co_await socket.read(bytes.subspan(at, std::min(kPieceBytes, bytes.size() - at)), perPiece);
        if (!read) co_return false;
    }
    co_return true;
}

asio::awaitable<bool> writeInPieces(FramedSocket& socket, std::span<const uint8_t> bytes, Clock::duration perPiece) {
    for (std::size_t at = 0; at < bytes.size(); at += kPieceBytes) {
        const bool written =
            co_await socket.write(bytes.subspan(at, std::min(kPieceBytes, bytes.size() - at)), perPiece);
        if (!written) co_return false;
    }
    co_return true;
}

struct Download {
    bool accepted = false;
    std::vector<StoredNote> notes;
};

} // namespace

// YES to the header; the payload names the receiver and announces the
// block's length; YES; the block; the final YES once the note is kept.
asio::awaitable<Next> serveLeaveNote(Conversation& conversation, const FrameHeader& header) {
    ServerState& state = conversation.state();
    const ServerConfig& config = conversation.config();
    ByteBuffer payload;
    const bool accepted = co_await conversation.acceptPayload(header, payload);
    if (!accepted) co_return Next::End;
    LeaveNoteRequest request;
    if (!parseLeaveNotePayload(payload, request)) {
        co_return co_await conversation.reject(kMalformedRequest, "a malformed note to leave");
    }
    const std::string name = asString(request.userName);
    const auto key = userKey(name);
    const bool registered = co_await isRegistered(state, key);
    if (!registered) {
        co_return co_await conversation.decline(unknownUserText(name, config.serverName));
    }
    // Refused before anything is allocated or read.
    if (request.blockLength > wire::kMaxPayloadLength) {
        co_return co_await conversation.decline(kNoteTooLong);
    }
    if (request.blockLength > config.noteQuotaBytes) {
        co_return co_await conversation.decline(quotaText(name, config.serverName));
    }
    if (request.blockLength < 4) {
        co_return co_await conversation.reject(kMalformedRequest, "a note to leave shorter than its length word");
    }
    const bool replied = co_await conversation.reply(true);
    if (!replied) co_return Next::End;

    ByteBuffer block;
    if (!allocatePayload(block, request.blockLength)) {
        co_return co_await conversation.decline(kNotStored);
    }
    const bool received =
        co_await readInPieces(conversation.socket(), std::span(block.data(), block.size()), conversation.blockLimit());
    if (!received) {
        conversation.endBecause("reading a note to leave: " + conversation.socket().failure());
        co_return Next::End;
    }
    if (!isWholeStoredNote(block.data(), block.size())) {
        co_return co_await conversation.reject(kMalformedRequest, "a note to leave whose length word is not its own");
    }
    const std::span<const uint8_t> kept(block.data(), block.size());
    auto keep = [&storage = state.storage, key = *key, kept, quota = config.noteQuotaBytes] {
        return storage.storeNote(key, kept, quota);
    };
    const StorageResult stored = co_await state.offload(keep);
    if (stored != StorageResult::Done) {
        std::string reason = kNotStored;
        if (stored == StorageResult::OverQuota) reason = quotaText(name, config.serverName);
        if (stored == StorageResult::NotFound) reason = unknownUserText(name, config.serverName);
        co_return co_await conversation.decline(reason);
    }
    spdlog::info("a note of {} bytes left for {} by {}", block.size(), name, conversation.socket().peerAddress());
    const bool sent = co_await conversation.reply(true);
    co_return sent ? Next::Another : Next::End;
}

// YES to the header; the payload names the user with the password; then
// {version, 1, size} and, after the client's YES, the notes one after the
// other (with none, the size is 0 and the final YES follows the client's
// answer at once). After the client's second
// YES exactly the notes sent are deleted and a final YES says so. Cut
// anywhere before, the notes stay; a note left meanwhile was not sent and
// stays too.
asio::awaitable<Next> serveNoteDownLoad(Conversation& conversation, const FrameHeader& header) {
    ServerState& state = conversation.state();
    FramedSocket& socket = conversation.socket();
    const std::string address = socket.peerAddress();
    ByteBuffer payload;
    const bool accepted = co_await conversation.acceptPayload(header, payload);
    if (!accepted) co_return Next::End;
    NoteDownLoadRequest request;
    if (!parseNoteDownLoadPayload(payload, request)) {
        co_return co_await conversation.reject(kMalformedRequest, "a malformed note download");
    }
    const std::string name = asString(request.userName);
    const std::string key = userKey(name).value_or("");

    co_await conversation.waitOutThrottle();
    // As many whole notes as one downloaded block may carry; the rest wait
    // for the next download.
    auto fetch = [&storage = state.storage, key, password = asString(request.password)] {
        Download found;
        const auto hash = key.empty() ? std::nullopt : storage.passwordHash(key);
        found.accepted = hash && verifyPassword(*hash, password);
        if (found.accepted) found.notes = storage.notesFor(key, wire::kMaxPayloadLength);
        return found;
    };
    Download download = co_await state.offload(fetch);
    if (!download.accepted) {
        state.throttle.failed(address, Clock::now());
        co_return co_await conversation.reject(kWrongLogin, "a note download with a wrong password as " + name);
    }
    state.throttle.succeeded(address);

    uint64_t size = 0;
    for (const StoredNote& note : download.notes) size += note.block.size();
    const auto limit = conversation.blockLimit();
    const bool announced = co_await socket.sendHeader(wire::kYes, static_cast<uint32_t>(size), limit);
    if (!announced) {
        conversation.endBecause("announcing a note download: " + socket.failure());
        co_return Next::End;
    }
    const ReplyOutcome taken = co_await socket.readReply(limit);
    // Nothing to send: the client's NO to the empty block, then the final
    // YES, and the client counts no notes (a refusal would read as a
    // failure to the user).
    if (download.notes.empty()) {
        if (taken == ReplyOutcome::Failed) co_return Next::End;
        const bool sent = co_await conversation.reply(true);
        co_return sent ? Next::Another : Next::End;
    }
    if (taken != ReplyOutcome::Yes) {
        conversation.endBecause("the client did not take the notes announced");
        co_return Next::End;
    }
    for (const StoredNote& note : download.notes) {
        const bool written = co_await writeInPieces(socket, note.block, limit);
        if (!written) {
            conversation.endBecause("sending stored notes: " + socket.failure());
            co_return Next::End;
        }
    }
    const ReplyOutcome held = co_await socket.readReply(limit);
    if (held != ReplyOutcome::Yes) {
        conversation.endBecause("the client did not confirm the notes sent");
        co_return Next::End;
    }
    std::vector<int64_t> sent;
    for (const StoredNote& note : download.notes) sent.push_back(note.id);
    auto forget = [&storage = state.storage, key, &sent] { return storage.deleteNotes(key, sent); };
    const StorageResult deleted = co_await state.offload(forget);
    if (deleted != StorageResult::Done) {
        co_return co_await conversation.decline(kNotDelivered);
    }
    spdlog::info("{} from {} downloaded {} stored notes", name, address, sent.size());
    const bool confirmed = co_await conversation.reply(true);
    co_return confirmed ? Next::Another : Next::End;
}

} // namespace vp::server
