#pragma once
// The server program in the background on a folder's database, on a port it
// picks and names on standard error (kept in the folder's "err"); killed
// when it goes out of scope. The program is VP_SERVER_PROGRAM.

#include "support/Bytes.h"
#include "support/Eventually.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace vp::test {

class ServerProcess {
public:
    ServerProcess(const std::filesystem::path& folder, const std::string& host) : m_err((folder / "err").string()) {
        const std::string args[] = {VP_SERVER_PROGRAM, "--listen", host, "--port", "0", "--web-port", "0", "--database",
                                    (folder / "accounts.db").string(), "--control-socket",
                                    (folder / "control").string(), "--server-name", "mainhub"};
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
    pid_t pid() const { return m_pid; }

private:
    std::string m_err;
    pid_t m_pid = -1;
};

} // namespace vp::test
