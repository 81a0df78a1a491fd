#pragma once
// Runs the server program as an operator would: a command through the
// shell with the given standard input, keeping what it printed and its exit
// code; or the server itself in the background on a test's database.

#include "support/Bytes.h"
#include "support/TempDir.h"

#include "support/Eventually.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vp::test {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline ProgramRun runServerProgram(const std::vector<std::string>& args, const std::string& input = "") {
    TempDir dir;
    writeBytes(dir.native() / "in", input);
    std::string command = shellQuoted(VP_SERVER_PROGRAM);
    for (const std::string& arg : args) command += ' ' + shellQuoted(arg);
    command += " <" + shellQuoted((dir.native() / "in").string()) + " >" + shellQuoted((dir.native() / "out").string()) +
               " 2>" + shellQuoted((dir.native() / "err").string());
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readBytes(dir.native() / "out");
    run.err = readBytes(dir.native() / "err");
    return run;
}

// The server on dir's database, on a port it picks and names on standard
// error; killed when it goes out of scope.
class ServerProcess {
public:
    ServerProcess(const TempDir& dir, const std::string& host) : m_err((dir.native() / "err").string()) {
        const std::string args[] = {VP_SERVER_PROGRAM, "--listen", host, "--port", "0", "--database",
                                    (dir.native() / "accounts.db").string(), "--control-socket",
                                    (dir.native() / "control").string(), "--server-name", "mainhub"};
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ServerProcess() { stop(SIGKILL); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // 0 when the program did not start or name a port in time.
    uint16_t port() {
        int port = 0;
        eventually([&] {
            const std::string err = readBytes(m_err);
            if (const size_t at = err.find(" port "); at != std::string::npos) port = std::atoi(err.c_str() + at + 6);
            return port != 0 || m_pid <= 0;
        });
        return static_cast<uint16_t>(port);
    }
    // The exit code, or -1 when a signal ended the program.
    int stop(int signal) {
        if (m_pid <= 0) return -1;
        kill(m_pid, signal);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::string m_err;
    pid_t m_pid = -1;
};

} // namespace vp::test
