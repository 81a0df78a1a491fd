#pragma once
// The command line and the config file of vellumpost-server. Without a
// subcommand the program serves; "admin" runs one account command on the
// database (or hands an announcement to the running server) and exits.
// Every setting can come from the command line or from the file given
// with --config (TOML; keys are the long option names); the command line
// wins where both give one.

#include "ServerConfig.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace vp::server {

enum class AdminAction { None, AddUser, DeleteUser, SetPassword, ListUsers, Announce };

struct ServerOptions {
    ServerConfig config;
    std::string logLevel = "info"; // a level name of spdlog
    AdminAction admin = AdminAction::None;
    std::string adminArgument;     // the user name, or the announcement text
};

// The program's exit codes: done; refused or failed (unknown user, database
// error, no server running); the command line or config file was wrong.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct OptionsOutcome {
    std::optional<ServerOptions> options; // nullopt: exit with exitCode
    int exitCode = kExitDone;
};

// Reads argv (argv[0] is the program). Help goes to out, a refused value or
// file to err with the reason; either way the outcome holds no options.
OptionsOutcome parseServerOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace vp::server
