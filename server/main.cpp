// vellumpost-server: serves the client's wire protocol until SIGTERM or
// SIGINT, or runs one admin command (ServerOptions.h).

#include "AdminCommand.h"
#include "ControlSocket.h"
#include "Server.h"
#include "ServerOptions.h"
#include "storage/SqliteStorage.h"

#include <boost/asio.hpp>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <iostream>

namespace {

using namespace vp::server;

// One line per event on standard error, which the service manager keeps.
void setUpLogging(const std::string& level) {
    auto logger = spdlog::stderr_logger_mt("vellumpost-server");
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e %l %v");
    logger->set_level(spdlog::level::from_str(level));
    logger->flush_on(spdlog::level::trace);
    spdlog::set_default_logger(std::move(logger));
}

int serve(const ServerConfig& config) {
    const auto storage = SqliteStorage::open(config.databasePath);
    if (!storage)
        return kExitFailed;
    spdlog::info("database {}", config.databasePath);

    boost::asio::io_context io;
    Server server(io, config, *storage);
    // The control socket comes first: it finds a server already running on
    // this configuration before the port is touched. The context runs on
    // this one thread, so the socket and the signal handler below reach the
    // server only from it.
    std::optional<ControlSocket> control;
    if (!config.controlSocketPath.empty()) {
        control.emplace(io, config.controlSocketPath, [&server](std::string text) { server.announce(std::move(text)); });
        if (!control->start())
            return kExitFailed;
    }
    if (!server.start())
        return kExitFailed;
    spdlog::info("listening on {} port {} as {}", config.listenAddress, server.port(), config.serverName);
    spdlog::info("web host on {}:{}", config.listenAddress, server.webPort());

    boost::asio::signal_set signals(io, SIGTERM, SIGINT);
    signals.async_wait([&](const boost::system::error_code& error, int number) {
        if (error)
            return;
        spdlog::info("signal {}: stopping", number);
        if (control)
            control->stop();
        server.stop();
    });
    io.run();
    // The storage closes the database as this returns, after the server
    // has let go of it.
    spdlog::info("stopped");
    return kExitDone;
}

} // namespace

int main(int argc, char** argv) {
    auto parsed = parseServerOptions(argc, argv, std::cout, std::cerr);
    if (!parsed.options)
        return parsed.exitCode;
    const ServerOptions& options = *parsed.options;
    try {
        setUpLogging(options.logLevel);
        if (options.admin != AdminAction::None)
            return runAdminCommand(options, std::cin, std::cout, std::cerr);
        return serve(options.config);
    } catch (const std::exception& error) {
        // Every conversation catches its own; this is the last line of
        // defence for set-up, and says what happened rather than aborting.
        spdlog::critical("{}", error.what());
        return kExitFailed;
    }
}
