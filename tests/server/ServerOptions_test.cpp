#include "ServerOptions.h"
#include "storage/UserKey.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vp::server {
namespace {

struct Parsed {
    OptionsOutcome outcome;
    std::string out, err;
};

Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vellumpost-server");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    Parsed parsed{parseServerOptions(static_cast<int>(argv.size()), argv.data(), out, err), {}, {}};
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
}

void expectConfig(const ServerConfig& config, const std::string& source) {
    SCOPED_TRACE(source);
    EXPECT_EQ(config.listenAddress, "127.0.0.1");
    EXPECT_EQ(config.port, 0);
    EXPECT_EQ(config.peerPort, 6001);
    EXPECT_EQ(config.databasePath, "/tmp/v.db");
    EXPECT_EQ(config.controlSocketPath, "");
    EXPECT_EQ(config.serverName, "mainhub");
    EXPECT_EQ(config.greeting, "Hello there");
    EXPECT_EQ(config.keepAliveSeconds, 5u);
    EXPECT_EQ(config.noteQuotaBytes, 2u << 20);
    EXPECT_EQ(config.headerTimeout, std::chrono::seconds(2));
    EXPECT_EQ(config.idleTimeout, std::chrono::seconds(3));
    EXPECT_EQ(config.relayTimeout, std::chrono::seconds(4));
    EXPECT_EQ(config.failedLoginsBeforeDelay, 7u);
    EXPECT_EQ(config.webPort, 0);
    EXPECT_EQ(config.webAddress, "web.example.org:81");
}

TEST(ServerOptions, CommandLineAndConfigFileGiveTheSameConfig) {
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"listen", "127.0.0.1"},   {"port", "0"},           {"peer-port", "6001"},       {"database", "/tmp/v.db"},
        {"control-socket", ""},    {"server-name", "mainhub"}, {"greeting", "Hello there"}, {"keep-alive", "5"},
        {"note-quota", "2MiB"},    {"header-timeout", "2"}, {"idle-timeout", "3"},       {"relay-timeout", "4"},
        {"failed-logins", "7"},    {"log-level", "debug"},
        {"web-port", "0"},         {"web-address", "web.example.org:81"},
    };
    std::vector<std::string> args;
    std::string file;
    for (const auto& [key, value] : settings) {
        args.push_back("--" + key);
        args.push_back(value);
        file += key + " = \"" + value + "\"\n";
    }
    const Parsed fromArgs = parse(args);
    ASSERT_TRUE(fromArgs.outcome.options) << fromArgs.err;
    expectConfig(fromArgs.outcome.options->config, "command line");
    EXPECT_EQ(fromArgs.outcome.options->logLevel, "debug");
    EXPECT_EQ(fromArgs.outcome.options->admin, AdminAction::None);

    test::TempDir dir;
    test::writeBytes(dir.native() / "server.toml", file);
    const Parsed fromFile = parse({"--config", (dir.native() / "server.toml").string()});
    ASSERT_TRUE(fromFile.outcome.options) << fromFile.err;
    expectConfig(fromFile.outcome.options->config, "config file");

    // The example file an operator starts from holds the defaults, but for
    // the web host on the port the client asks.
    const Parsed example = parse({"--config", VP_SOURCE_DIR "/packaging/server.toml"});
    ASSERT_TRUE(example.outcome.options) << example.err;
    ServerConfig packaged;
    packaged.webPort = 80;
    EXPECT_TRUE(example.outcome.options->config == packaged);

    // The command line wins over the file.
    const Parsed both = parse({"--config", (dir.native() / "server.toml").string(), "--server-name", "other"});
    ASSERT_TRUE(both.outcome.options);
    EXPECT_EQ(both.outcome.options->config.serverName, "other");
}

TEST(ServerOptions, AdminCommandsAndRefusedValues) {
    const struct {
        std::vector<std::string> args;
        int exitCode;
        AdminAction action;
        std::string argument; // or, for a refusal, what the message names
    } rows[] = {
        {{"admin", "add-user", "Ann", "--database", "x.db"}, kExitDone, AdminAction::AddUser, "Ann"},
        {{"admin", "announce", "back", "at", "ten"}, kExitDone, AdminAction::Announce, "back at ten"},
        {{"admin", "list"}, kExitDone, AdminAction::ListUsers, ""},
        {{"--help"}, kExitDone, AdminAction::None, "Exit codes"},
        {{"admin"}, kExitUsage, AdminAction::None, "subcommand"},
        {{"admin", "passwd"}, kExitUsage, AdminAction::None, "NAME"},
        {{"--port", "65536"}, kExitUsage, AdminAction::None, "--port"},
        {{"--keep-alive", "256"}, kExitUsage, AdminAction::None, "--keep-alive"},
        {{"--listen", "1.2.3"}, kExitUsage, AdminAction::None, "1.2.3"},
        {{"--note-quota", "lots"}, kExitUsage, AdminAction::None, "--note-quota"},
        {{"--idle-timeout", "0"}, kExitUsage, AdminAction::None, "--idle-timeout"},
        {{"--log-level", "loud"}, kExitUsage, AdminAction::None, "--log-level"},
        {{"--config", "/no/such/file.toml"}, kExitUsage, AdminAction::None, "/no/such/file.toml"},
        {{"--list-server", "ftp://x/ other"}, kExitUsage, AdminAction::None, "URL display-text"},
        {{"--list-server", "http://x/ other see http://y"}, kExitUsage, AdminAction::None, "cannot hold"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.front() + (row.args.size() > 1 ? " " + row.args[1] : ""));
        const Parsed parsed = parse(row.args);
        EXPECT_EQ(parsed.outcome.exitCode, row.exitCode);
        if (parsed.outcome.options) {
            EXPECT_EQ(parsed.outcome.options->admin, row.action);
            EXPECT_EQ(parsed.outcome.options->adminArgument, row.argument);
        } else {
            EXPECT_NE((parsed.out + parsed.err).find(row.argument), std::string::npos) << parsed.out << parsed.err;
        }
    }
    EXPECT_EQ(parse({"admin", "add-user", "Ann", "--database", "x.db"}).outcome.options->config.databasePath, "x.db");
}

TEST(UserKey, FormsTheKeyOrSaysWhyNot) {
    const struct {
        std::string name;
        bool valid;
        std::string keyOrProblem;
    } rows[] = {
        {"Ann", true, "ann"},
        {"  Ann   SMITH ", true, "ann smith"},
        {"x-Y_z.9!", true, "x-y_z.9!"},
        {std::string(kMaxUserNameLength, 'A'), true, std::string(kMaxUserNameLength, 'a')},
        {std::string(kMaxUserNameLength + 1, 'a'), false, "at most 32 characters"},
        {"", false, "cannot be empty"},
        {"   ", false, "cannot be empty"},
        {"ann@mainhub", false, "cannot contain '@'"},
        {"ann\tsmith", false, "byte 0x09 at position 4"},
        {"j\xC3\xB6rg", false, "byte 0xC3 at position 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string problem;
        const auto key = userKey(row.name, &problem);
        ASSERT_EQ(key.has_value(), row.valid) << problem;
        if (key)
            EXPECT_EQ(*key, row.keyOrProblem);
        else
            EXPECT_NE(problem.find(row.keyOrProblem), std::string::npos) << problem;
    }
}

} // namespace
} // namespace vp::server
