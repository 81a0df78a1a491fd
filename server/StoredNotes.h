#pragma once
// Notes left on the server for a user who is not online, and their
// download by that user.

#include "Conversation.h"

#include <boost/asio/awaitable.hpp>

namespace vp::server {

boost::asio::awaitable<Next> serveLeaveNote(Conversation& conversation, const FrameHeader& header);
boost::asio::awaitable<Next> serveNoteDownLoad(Conversation& conversation, const FrameHeader& header);

} // namespace vp::server
