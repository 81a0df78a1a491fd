#pragma once
// Everything an operator can set, from the command line or the config file
// (ServerOptions.h reads both). Tests and the robot run the server on a
// loopback address and port of their choice with short time-outs.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vp::server {

struct ServerConfig {
    std::string listenAddress = "0.0.0.0";
    uint16_t port = 5000;     // 0: any free port (tests read the bound one)
    uint16_t peerPort = 5001; // where pushes reach a client that takes connections
    std::string databasePath = "/var/lib/vellumpost/vellumpost.db";
    std::string controlSocketPath = "/run/vellumpost/control.sock";
    std::string serverName = "localhost";
    std::string greeting = "Welcome to Vellumpost.";

    // The web host: the client's server list and account form, and pages
    // for browsers (sign-up, people search).
    uint16_t webPort = 8080; // 0: any free port
    // host[:port] in the account address the server list hands out; empty:
    // the server name, with the web port unless it is 80.
    std::string webAddress;
    // Further entries of the server list, each "URL display-text", where the
    // display text starts with that server's name.
    std::vector<std::string> listedServers;
    // The clients' local add-contact port, which people-search results link
    // to on 127.0.0.1 (tests move it).
    uint16_t addContactPort = 5002;

    uint32_t keepAliveSeconds = 60;          // the byte that answers each keep-alive (1..255)
    uint64_t noteQuotaBytes = 64ull << 20;   // stored notes per user
    std::chrono::seconds headerTimeout{30};  // a block not complete within this ends the conversation
    std::chrono::seconds idleTimeout{120};   // a connection that never logs in and stays silent
    std::chrono::seconds relayTimeout{60};   // a relay the receiver does not answer
    uint32_t failedLoginsBeforeDelay = 5;    // per address, then each attempt waits

    bool operator==(const ServerConfig&) const = default;
};

} // namespace vp::server
