#include "storage/UserKey.h"

#include <fmt/format.h>

namespace vp::server {

namespace {

std::optional<std::string> refuse(std::string* problem, std::string reason) {
    if (problem)
        *problem = std::move(reason);
    return std::nullopt;
}

} // namespace

std::optional<std::string> userKey(std::string_view name, std::string* problem) {
    std::string key;
    key.reserve(name.size());
    bool blankPending = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == ' ') {
            blankPending = !key.empty();
            continue;
        }
        // The client's texts are single bytes in its own code page; only
        // printable ASCII means the same bytes on both sides.
        if (c < 0x20 || c > 0x7e) {
            return refuse(problem,
                          fmt::format("A user name can hold only printable ASCII characters; byte 0x{:02X} at "
                                      "position {} is not one.",
                                      c, i + 1));
        }
        if (c == '@')
            return refuse(problem, "A user name cannot contain '@': it separates the user from the server.");
        if (blankPending)
            key += ' ';
        blankPending = false;
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    }
    if (key.empty())
        return refuse(problem, "A user name cannot be empty.");
    if (key.size() > kMaxUserNameLength)
        return refuse(problem, "A user name can be at most " + std::to_string(kMaxUserNameLength) + " characters long.");
    return key;
}

} // namespace vp::server
