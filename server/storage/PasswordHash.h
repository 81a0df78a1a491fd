#pragma once
// Passwords are never kept in clear: the storage holds the self-describing
// text of libsodium's password hash (algorithm, limits, salt and hash), and
// a password is checked against that text. Safe from any thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vp::server {

// The hash text of the password with the interactive limits; nullopt when
// it could not be made (logged).
std::optional<std::string> hashPassword(std::string_view password);

// True when the password is the one the hash text was made from. A hash
// text that is not one of ours gives false.
bool verifyPassword(std::string_view hashText, std::string_view password);

// Fills the bytes from the system's random source; false (logged) when the
// library could not be started.
bool randomBytes(std::span<uint8_t> out);

// A fresh ticket (a log-in's, or a relay's for its receiver): 16 random
// bytes as 32 hexadecimal characters, which the client keeps as text and
// hands back as it came. Empty when no random bytes could be had.
std::string randomTicket();

} // namespace vp::server
