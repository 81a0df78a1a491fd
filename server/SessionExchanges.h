#pragma once
// The session requests a client makes of its server: log-in (after which
// the conversation is the user's session until it ends), locating a user,
// changing a password and asking for a user's presence.

#include "Conversation.h"

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>

namespace vp::server {

// A log-in that succeeds gives Next::Session; keepSessionAlive then answers
// the session's keep-alives until it ends, and tears the conversation down.
boost::asio::awaitable<Next> serveLogin(Conversation& conversation, const FrameHeader& header);
void keepSessionAlive(std::shared_ptr<Conversation> conversation);
boost::asio::awaitable<Next> serveLocate(Conversation& conversation, const FrameHeader& header);
boost::asio::awaitable<Next> serveChangePassword(Conversation& conversation, const FrameHeader& header);
boost::asio::awaitable<Next> serveQueryStatus(Conversation& conversation, const FrameHeader& header);

// The reasons a client shows its user unchanged.
inline constexpr char kWrongLogin[] = "The user name or the password is not right.";
std::string unknownUserText(const std::string& name, const std::string& serverName);
std::string notOnlineText(const std::string& name, const std::string& serverName);

// Whether an account has the key (none: false), asked of the storage off the
// conversation's thread.
boost::asio::awaitable<bool> isRegistered(ServerState& state, const std::optional<std::string>& key);

} // namespace vp::server
