#pragma once
// What the server tells clients without being asked: a user's presence to
// those registered for it, and an announcement to everyone online. A client
// that takes connections gets each push on its peer port over a connection
// of its own; one behind a proxy gets it over its relay channel. A push that
// fails is dropped with one log line and holds up nothing else.

#include "PresenceRegistry.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vp::server {

struct ServerState;

// Tells every online asker registered for the user that it came or went.
void pushPresence(const std::shared_ptr<ServerState>& state, const std::string& key, const OnlineUser& user,
                  bool online);
// Sends the text to every client online now.
void pushAnnouncement(const std::shared_ptr<ServerState>& state, const std::string& text);
// One block to one online client; what names it in the log.
void pushTo(const std::shared_ptr<ServerState>& state, const OnlineUser& client, uint32_t code,
            std::vector<uint8_t> payload, std::string what);

} // namespace vp::server
