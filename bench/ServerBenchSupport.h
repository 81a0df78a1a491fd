#pragma once
// What the server benchmarks share: a folder for the database (in memory
// when the system has one, so that the disk's sync does not set the pace
// of setting up thousands of accounts), accounts with a password hash of
// the least cost the hash allows, blocks written out, and blocking client
// calls made as the client makes them.

#include "BenchSupport.h"
#include "foundation/LittleEndian.h"
#include "foundation/TcpSocket.h"
#include "storage/Storage.h"

#include <sodium.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vp::bench {

inline constexpr uint32_t kOwnVersion = 0x0013FFEC;

// A hash that costs next to nothing to check, so that a figure shows the
// server and not the password hash; the server reads the cost from the
// hash text itself.
inline std::string cheapHash(const std::string& password) {
    char text[crypto_pwhash_STRBYTES] = {};
    if (sodium_init() < 0 || crypto_pwhash_str(text, password.data(), password.size(), crypto_pwhash_OPSLIMIT_MIN,
                                               crypto_pwhash_MEMLIMIT_MIN) != 0) {
        std::fprintf(stderr, "no password hash\n");
        std::exit(1);
    }
    return text;
}

inline std::string le32(uint32_t value) {
    std::string bytes(4, '\0');
    writeLittleEndian32(reinterpret_cast<uint8_t*>(bytes.data()), value);
    return bytes;
}

inline std::string frame(uint32_t code, uint32_t length) { return le32(kOwnVersion) + le32(code) + le32(length); }

inline bool sendAll(TcpSocket& socket, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    for (size_t at = 0; at < size;) {
        const uint32_t sent = socket.Send(bytes + at, static_cast<uint32_t>(std::min<size_t>(size - at, 1u << 20)));
        if (sent == 0) return false;
        at += sent;
    }
    return true;
}
inline bool sendAll(TcpSocket& socket, const std::string& bytes) { return sendAll(socket, bytes.data(), bytes.size()); }

inline bool receiveAll(TcpSocket& socket, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    for (size_t at = 0; at < size;) {
        const uint32_t got = socket.Recv(bytes + at, static_cast<uint32_t>(std::min<size_t>(size - at, 1u << 20)));
        if (got == 0) return false;
        at += got;
    }
    return true;
}

// A reply's flag, its text in text; false when none came.
inline bool receiveReply(TcpSocket& socket, uint32_t& flag, std::string* text = nullptr) {
    uint8_t header[12];
    if (!receiveAll(socket, header, sizeof header)) return false;
    flag = readLittleEndian32(header + 4);
    std::string data(readLittleEndian32(header + 8), '\0');
    if (data.size() > 4096 || !receiveAll(socket, data.data(), data.size())) return false;
    if (text) *text = data;
    return true;
}

inline bool expectYes(TcpSocket& socket, std::string* text = nullptr) {
    uint32_t flag = 0;
    return receiveReply(socket, flag, text) && flag != 0;
}

// The client's log-in on a connected socket, which stays open as the
// session; the relay ticket for a client behind a proxy.
inline bool logIn(TcpSocket& socket, const std::string& user, const std::string& password, bool behindProxy = false,
                  std::string* ticket = nullptr) {
    const std::string payload = le32(static_cast<uint32_t>(user.size())) + le32(static_cast<uint32_t>(password.size())) +
                                le32(4) + user + password + le32(behindProxy ? 1 : 0);
    if (!sendAll(socket, frame(1000, static_cast<uint32_t>(payload.size())))) return false;
    if (!expectYes(socket) || !expectYes(socket) || !sendAll(socket, payload)) return false;
    if (behindProxy && !expectYes(socket, ticket)) return false;
    return expectYes(socket);
}

inline bool connectTo(TcpSocket& socket, const char* host, uint16_t port) { return socket.Connect(host, port) == 1; }

} // namespace vp::bench
