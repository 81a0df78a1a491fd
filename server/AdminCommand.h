#pragma once
// The "admin" subcommand: one account change on the database the options
// name, or an announcement handed to the running server through its
// control socket. Passwords come from standard input, one line, never from
// the command line, where other users could read them.

#include "ServerOptions.h"

#include <cstddef>
#include <iosfwd>

namespace vp::server {

// The account form's limits: at least 4 characters, and room for more
// than the form's 31.
inline constexpr std::size_t kMinPasswordLength = 4;
inline constexpr std::size_t kMaxPasswordLength = 128;

// Runs options.admin; the exit code (ServerOptions.h). Results go to out,
// refusals and failures to err; the password is read from in.
int runAdminCommand(const ServerOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace vp::server
