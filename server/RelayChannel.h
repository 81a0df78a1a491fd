#pragma once
// The relay channel of a client behind a proxy: the client opens it with
// the ticket its log-in gave it, and from then on the server sends over it
// what it would otherwise push to the client's peer port.

#include "Conversation.h"

#include <boost/asio/awaitable.hpp>

namespace vp::server {

// An open channel gives Next::Channel; it then carries pushes until it ends.
boost::asio::awaitable<Next> serveOpenChannel(Conversation& conversation, const FrameHeader& header);
boost::asio::awaitable<void> carryChannel(Conversation& conversation);

} // namespace vp::server
