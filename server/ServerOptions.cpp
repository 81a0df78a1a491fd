#include "ServerOptions.h"

#include <CLI/CLI.hpp>
#include <boost/asio/ip/address.hpp>

#include <numeric>
#include <ostream>
#include <vector>

namespace vp::server {

namespace {

constexpr const char* kFooter = R"(Admin commands work on the database given by --database (or the config
file) and may run while the server does; "admin announce" reaches the
running server through its control socket.

Exit codes: 0 done, 1 refused or failed (the reason is printed),
2 a wrong command line or config file.)";

const CLI::Validator kIpAddress(
    [](std::string& text) {
        boost::system::error_code error;
        boost::asio::ip::make_address(text, error);
        return error ? "not an IPv4 or IPv6 address: " + text : std::string();
    },
    "ADDRESS");

// A further entry of the server list: the client finds each URL by its
// "http" and ends the last display text at "EOF", so a display text can
// hold neither, nor a line break.
const CLI::Validator kListedServer(
    [](std::string& text) {
        const auto blank = text.find(' ');
        if (!text.starts_with("http") || blank == std::string::npos || blank + 1 == text.size())
            return "not \"URL display-text\": " + text;
        const std::string display = text.substr(blank + 1);
        for (const char c : display)
            if (static_cast<unsigned char>(c) < 0x20) return "a display text is one line: " + text;
        if (display.find("http") != std::string::npos || display.find("EOF") != std::string::npos)
            return "a display text cannot hold \"http\" or \"EOF\": " + text;
        return std::string();
    },
    "SERVER");

// Time-outs are given in whole seconds.
void addSeconds(CLI::App& app, const std::string& name, std::chrono::seconds& target, uint32_t& holder,
                const std::string& description) {
    holder = static_cast<uint32_t>(target.count());
    app.add_option(name, holder, description)->check(CLI::Range(1u, 86400u))->capture_default_str();
}

} // namespace

OptionsOutcome parseServerOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    ServerOptions options;
    ServerConfig& config = options.config;

    CLI::App app("vellumpost-server: the server of the Vellumpost messenger (log-in, presence, relay, stored notes, "
                 "web host)",
                 "vellumpost-server");
    app.footer(kFooter);
    // Settings such as --database may follow "admin ...", where an operator
    // naturally writes them last.
    app.fallthrough();
    app.set_config("--config", "", "Read settings from this file (TOML, keys as the long option names)");

    app.add_option("--listen", config.listenAddress, "Address to listen on")
        ->check(kIpAddress)
        ->capture_default_str();
    app.add_option("--port", config.port, "Server port of the clients (0: any free port)")->capture_default_str();
    app.add_option("--peer-port", config.peerPort, "Port on which clients take pushed notices")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--database", config.databasePath, "Database file of accounts and stored notes")
        ->capture_default_str();
    app.add_option("--control-socket", config.controlSocketPath,
                   "Local socket of the admin command (empty: none)")
        ->capture_default_str();
    app.add_option("--server-name", config.serverName, "The name users write after '@'")->capture_default_str();
    app.add_option("--greeting", config.greeting, "Text a client shows after logging in")->capture_default_str();
    app.add_option("--web-port", config.webPort,
                   "Port of the web host: server list, account creation, sign-up and people search (0: any free port)")
        ->capture_default_str();
    app.add_option("--web-address", config.webAddress,
                   "host[:port] of the web host in the addresses it hands out (empty: the server name and web port)")
        ->capture_default_str();
    app.add_option("--list-server", config.listedServers,
                   "A further server of the server list, \"URL display-text\" (repeatable)")
        ->check(kListedServer);
    app.add_option("--add-contact-port", config.addContactPort,
                   "Port of the clients' local add-contact address that search results link to")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--keep-alive", config.keepAliveSeconds, "Keep-alive interval asked of clients, seconds")
        ->check(CLI::Range(1, 255))
        ->capture_default_str();
    app.add_option("--note-quota", config.noteQuotaBytes, "Stored notes per user (bytes, or with KiB, MiB, GiB)")
        ->transform(CLI::AsSizeValue(false))
        ->capture_default_str();
    uint32_t headerTimeout = 0, idleTimeout = 0, relayTimeout = 0;
    addSeconds(app, "--header-timeout", config.headerTimeout, headerTimeout,
               "A block not complete within this many seconds ends the conversation");
    addSeconds(app, "--idle-timeout", config.idleTimeout, idleTimeout,
               "A connection silent this many seconds before logging in is closed");
    addSeconds(app, "--relay-timeout", config.relayTimeout, relayTimeout,
               "A relayed receiver that does not answer within this many seconds fails the relay");
    app.add_option("--failed-logins", config.failedLoginsBeforeDelay,
                   "Failed log-ins from one address before each further attempt is slowed down")
        ->check(CLI::Range(1u, 1000u))
        ->capture_default_str();
    app.add_option("--log-level", options.logLevel, "Least level logged to standard error")
        ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "critical", "off"}))
        ->capture_default_str();

    CLI::App* admin = app.add_subcommand("admin", "Manage accounts, or announce to the running server");
    admin->require_subcommand(1);
    std::string userName;
    std::vector<std::string> words;
    const struct {
        const char* name;
        const char* description;
        AdminAction action;
    } commands[] = {
        {"add-user", "Register NAME; the password is read from standard input, one line", AdminAction::AddUser},
        {"del-user", "Remove NAME and every note left for it", AdminAction::DeleteUser},
        {"passwd", "Set the password of NAME, read from standard input, one line", AdminAction::SetPassword},
        {"list", "List the registered user names", AdminAction::ListUsers},
        {"announce", "Show TEXT to every client online on the running server", AdminAction::Announce},
    };
    for (const auto& command : commands) {
        CLI::App* sub = admin->add_subcommand(command.name, command.description);
        const AdminAction action = command.action;
        sub->callback([&options, action] { options.admin = action; });
        if (action == AdminAction::Announce)
            sub->add_option("TEXT", words, "The announcement (its words are joined with blanks)")->required();
        else if (action != AdminAction::ListUsers)
            sub->add_option("NAME", userName, "The user name (stored in lower case)")->required();
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // Help is a success; everything else CLI11 refuses is a usage error,
        // whatever finer code the library gives it.
        return {std::nullopt, app.exit(error, out, err) == 0 ? kExitDone : kExitUsage};
    }
    config.headerTimeout = std::chrono::seconds(headerTimeout);
    config.idleTimeout = std::chrono::seconds(idleTimeout);
    config.relayTimeout = std::chrono::seconds(relayTimeout);
    if (options.admin == AdminAction::Announce) {
        options.adminArgument = std::accumulate(std::next(words.begin()), words.end(), words.front(),
                                                [](std::string text, const std::string& word) {
                                                    return std::move(text) + ' ' + word;
                                                });
    } else {
        options.adminArgument = userName;
    }
    return {std::move(options), kExitDone};
}

} // namespace vp::server
