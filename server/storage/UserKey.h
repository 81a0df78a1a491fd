#pragma once
// The key under which an account is kept: the user name with every run of
// blanks made one blank, blanks at either end removed and the letters A-Z
// lower-cased, as the client forms the user part of its contact keys. A
// name that cannot be a user name gets no key and a sentence saying why.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vp::server {

// The client keeps the first 32 characters of a sender's name, so a longer
// name could not be told apart from another.
inline constexpr std::size_t kMaxUserNameLength = 32;

// The key of the name; nullopt with the reason in problem (when given) for
// an empty name, one with '@' or a character outside printable ASCII, or
// one longer than kMaxUserNameLength.
std::optional<std::string> userKey(std::string_view name, std::string* problem = nullptr);

} // namespace vp::server
