#include "StoredNotes.h"

namespace vp::server {

namespace asio = boost::asio;

namespace {

constexpr char kNotYet[] = "This server cannot do that yet.";

} // namespace

// FIXME: stored notes are not built yet; both requests are refused.
asio::awaitable<Next> serveLeaveNote(Conversation& conversation, const FrameHeader&) {
    co_return co_await conversation.reject(kNotYet, "a note to leave, which this server cannot keep yet");
}

asio::awaitable<Next> serveNoteDownLoad(Conversation& conversation, const FrameHeader&) {
    co_return co_await conversation.reject(kNotYet, "a note download, which this server cannot serve yet");
}

} // namespace vp::server
