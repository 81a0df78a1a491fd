#include "storage/PasswordHash.h"

#include <sodium.h>
#include <spdlog/spdlog.h>

#include <array>

namespace vp::server {

namespace {

// sodium_init picks the fastest implementations and opens the random
// source; a function-local static runs it exactly once, whichever thread
// comes first.
bool sodiumReady() {
    static const bool ready = [] {
        if (sodium_init() < 0) {
            spdlog::critical("password hashing: the crypto library could not be started");
            return false;
        }
        return true;
    }();
    return ready;
}

} // namespace

std::optional<std::string> hashPassword(std::string_view password) {
    if (!sodiumReady())
        return std::nullopt;
    char text[crypto_pwhash_STRBYTES];
    // The interactive limits keep a log-in check near a tenth of a second;
    // the hash text records them, so raising them later still verifies
    // the old hashes.
    if (crypto_pwhash_str(text, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        spdlog::error("password hashing: out of memory");
        return std::nullopt;
    }
    return std::string(text);
}

bool verifyPassword(std::string_view hashText, std::string_view password) {
    if (!sodiumReady())
        return false;
    // The library reads the hash up to its terminator, which a text from
    // the database need not have, and which must fit its buffer.
    if (hashText.empty() || hashText.size() >= crypto_pwhash_STRBYTES)
        return false;
    const std::string terminated(hashText);
    return crypto_pwhash_str_verify(terminated.c_str(), password.data(), password.size()) == 0;
}

bool randomBytes(std::span<uint8_t> out) {
    if (!sodiumReady())
        return false;
    randombytes_buf(out.data(), out.size());
    return true;
}

std::string randomTicket() {
    constexpr std::size_t kTicketBytes = 16;
    std::array<uint8_t, kTicketBytes> random{};
    if (!randomBytes(random)) return {};
    std::array<char, kTicketBytes * 2 + 1> text{};
    sodium_bin2hex(text.data(), text.size(), random.data(), random.size());
    return std::string(text.data(), kTicketBytes * 2);
}

} // namespace vp::server
