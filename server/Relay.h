#pragma once
// Joining a sender with a receiver behind a proxy: the sender's request and
// the receiver's answer with its ticket.

#include "Conversation.h"

#include <boost/asio/awaitable.hpp>

namespace vp::server {

boost::asio::awaitable<Next> serveProxyRequest(Conversation& conversation, const FrameHeader& header);
boost::asio::awaitable<Next> serveProxyAnswer(Conversation& conversation, const FrameHeader& header);

} // namespace vp::server
