#include "ServerFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <functional>

namespace vp::test {
namespace {

// The program as an operator starts it, on a free port of the test's
// database; it reports the port on standard error.
class ServerProcess {
public:
    ServerProcess(const TempDir& dir, const std::string& host) : m_err((dir.native() / "err").string()) {
        const std::vector<std::string> args = {VP_SERVER_PROGRAM, "--listen", host, "--port", "0", "--database",
                                               (dir.native() / "accounts.db").string(), "--control-socket", (dir.native() / "control").string(),
                                               "--server-name", "mainhub", "--greeting", "Hello from mainhub."};
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServerProcess() {
        if (m_pid > 0) stop();
    }
    uint16_t port() {
        const std::string marker = " port ";
        uint16_t port = 0;
        eventually([&] {
            const std::string err = readBytes(m_err);
            const size_t at = err.find(marker);
            if (at != std::string::npos) port = static_cast<uint16_t>(std::stoi(err.substr(at + marker.size())));
            return port != 0 || m_pid <= 0;
        });
        return port;
    }
    // The exit code after SIGTERM.
    int stop() {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string m_err;
    pid_t m_pid = -1;
};

TEST_F(ServerTest, TheProgramServesTheClientsOwnSessionRequests) {
    ServerProcess program(m_dir, m_host);
    m_port = program.port();
    ASSERT_NE(m_port, 0);
    TcpSocket ann, annAgain;
    const auto changePassword = [&](const char* current, const char* next) {
        return request([&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.ChangePassword(socket, "bob", current, "BOB", next);
        });
    };
    const struct {
        const char* what;
        std::function<std::string()> run;
        std::string outcome;
    } steps[] = {
        {"log-in", [&] { return login(ann, "ann", "ann-pw"); }, "OK Hello from mainhub."},
        {"log-in with a wrong password", [&] { TcpSocket s; return login(s, "bob", "ann-pw"); },
         "The user name or the password is not right."},
        {"locate, online", [&] { return locate("ann@mainhub"); }, "OK " + m_host},
        {"locate, offline", [&] { return locate("Bob"); }, "Bob@mainhub is not online."},
        {"locate, unknown", [&] { return locate("dave"); }, "No user named dave@mainhub is registered here."},
        {"status, online", [&] { return queryStatus("ann", "bob"); }, m_host + " 1"},
        {"status, offline", [&] { return queryStatus("bob", "ann"); }, "0.0.0.0 0"},
        {"status, unknown", [&] { return queryStatus("dave", "ann"); },
         "No user named dave@mainhub is registered here."},
        {"password change, wrong password", [&] { return changePassword("ann-pw", "new-pw"); },
         "The current password is not right."},
        {"password change", [&] { return changePassword("bob-pw", "new-pw"); }, "OK "},
        {"log-in with the new password", [&] { TcpSocket s; return login(s, "bob", "new-pw"); },
         "OK Hello from mainhub."},
    };
    for (const auto& step : steps) EXPECT_EQ(step.run(), step.outcome) << step.what;
    EXPECT_EQ(program.stop(), 0);
}

} // namespace
} // namespace vp::test
