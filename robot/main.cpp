// vellumpost-robot: runs the client core without windows until SIGTERM or
// SIGINT, sends one note ("send") or creates an account ("create-account").

#include "Robot.h"

#include "foundation/TcpSocket.h"
#include "foundation/ThreadLib.h"

#include <CLI/CLI.hpp>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void onSignal(int) { g_stop = true; }

void setUpLogging(const std::string& user) {
    auto logger = spdlog::stderr_logger_mt("vellumpost-robot");
    logger->set_pattern("%Y-%m-%d %H:%M:%S.%e " + user + " %l %v");
    logger->flush_on(spdlog::level::trace);
    spdlog::set_default_logger(std::move(logger));
}

} // namespace

int main(int argc, char** argv) {
    using vp::robot::RobotOptions;
    RobotOptions options;
    uint32_t retryEvery = 10;
    uint32_t retryFor = 300;
    CLI::App app("vellumpost-robot: a Vellumpost client without windows. It logs in, stays away and answers every "
                 "note with its automatic reply, and keeps the notes it gets; or, with \"send\", sends one note.");
    app.add_option("--server", options.server, "The server's host (also the name after '@' in the sender's name)")
        ->capture_default_str();
    app.add_option("--server-port", options.serverPort, "The server's port")->capture_default_str();
    app.add_option("--user", options.user, "User name")->required();
    app.add_option("--password", options.password, "Password")->required();
    app.add_option("--data", options.dataFolder, "Folder of the settings, notes and received files")->required();
    app.add_option("--away-message", options.awayMessage, "The automatic reply")->capture_default_str();
    app.add_option("--bind", options.bind, "Address to listen on (default: every address)");
    app.add_option("--peer-port", options.peerPort, "Peer port, here and of the clients notes go to")
        ->capture_default_str();
    app.add_option("--http-port", options.httpPort, "Local add-contact port")->capture_default_str();
    app.add_option("--contact", options.contacts,
                   "A contact (user@server) put on the list; its presence is logged (repeatable)");
    app.add_flag("--behind-proxy", options.behindProxy, "Take no connections: reached through the server's relay");
    app.add_option("--retry-every", retryEvery, "Seconds between log-in attempts after a loss")
        ->check(CLI::Range(1u, 3600u))
        ->capture_default_str();
    app.add_option("--retry-for", retryFor, "Seconds to keep trying after a loss")
        ->check(CLI::Range(1u, 86400u))
        ->capture_default_str();
    app.add_option("--monitor-second-ms", options.monitorSecondMilliseconds,
                   "Length of the connection monitor's second (tests shorten it)")
        ->check(CLI::Range(10u, 1000u))
        ->capture_default_str();
    CLI::App* send = app.add_subcommand("send", "Send one note and end: exit code 0 when delivered or left on the "
                                                "server");
    send->add_option("--to", options.to, "The receiver: user@server, or a dotted address")->required();
    send->add_option("--text", options.text, "The note's text")->required();
    send->add_option("--file", options.file, "A file to attach")->check(CLI::ExistingFile);
    CLI::App* create = app.add_subcommand("create-account", "Create the account of --user and --password on a "
                                                            "server of a server list and end: exit code 0 when "
                                                            "created");
    create->add_option("--list-url", options.listUrl, "Address of the server list (http://host[:port]/path)")
        ->required();
    create->add_option("--pick", options.pick, "The server of the list to create the account on (1: the first)")
        ->check(CLI::Range(1u, 1000u))
        ->capture_default_str();
    create->add_option("--confirm", options.confirmation, "The password typed again (default: the password)");
    CLI11_PARSE(app, argc, argv);
    options.retryEvery = std::chrono::seconds(retryEvery);
    options.retryFor = std::chrono::seconds(retryFor);

    setUpLogging(options.user);
    if (!vp::ThreadLib::init() || !vp::NetStartup()) {
        spdlog::error("the thread or socket library could not start");
        return 1;
    }
    int code = 0;
    {
        vp::robot::Robot robot(options);
        if (send->parsed()) {
            code = robot.send();
        } else if (create->parsed()) {
            code = robot.createAccount();
        } else {
            std::signal(SIGTERM, onSignal);
            std::signal(SIGINT, onSignal);
            std::signal(SIGPIPE, SIG_IGN);
            spdlog::info("started for {} at {}:{}, data in {}", options.user, options.server, options.serverPort,
                         options.dataFolder);
            code = robot.run(g_stop);
        }
    }
    vp::NetCleanup();
    vp::ThreadLib::shutdown();
    return code;
}
