// Thousands of logged-in sessions held by the real program: the resident
// memory each adds to the idle process, and the processor time the process
// takes while they sit idle between keep-alives, against the same process
// idle without them, in the same run.
//
//   server_sessions_bench [sessions]

#include "BenchSupport.h"
#include "ServerBenchSupport.h"
#include "storage/SqliteStorage.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

using namespace vp;
using namespace vp::bench;

namespace {

class Program {
public:
    Program(const BenchFolder& folder) : m_err(folder.path("err")) {
        const std::string args[] = {VP_SERVER_PROGRAM, "--listen", "127.0.0.1", "--port", "0", "--database",
                                    folder.path("accounts.db"), "--control-socket", folder.path("control")};
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    // The port it listens on, from its start-up line, once it has printed it.
    uint16_t port() {
        for (int tries = 0; tries < 200 && m_pid > 0; ++tries) {
            std::ifstream in(m_err);
            const std::string err((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (const size_t at = err.find(" port "); at != std::string::npos)
                return static_cast<uint16_t>(std::atoi(err.c_str() + at + 6));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }
    long residentKiB() const {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        return -1;
    }
    // User and system time so far, in clock ticks.
    long cpuTicks() const {
        std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::atol(field.c_str());
            if (i == 15) stime = std::atol(field.c_str());
        }
        return utime + stime;
    }

private:
    std::string m_err;
    pid_t m_pid = -1;
};

// The median of three readings of the resident size, a second apart.
long settledResidentKiB(const Program& program) {
    std::vector<long> readings;
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        readings.push_back(program.residentKiB());
    }
    std::sort(readings.begin(), readings.end());
    return readings[1];
}

// Processor time over a few idle seconds, as a share of one core.
double idleCpuPercent(const Program& program) {
    const long ticks = program.cpuTicks();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 100.0 * static_cast<double>(program.cpuTicks() - ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
}

} // namespace

int main(int argc, char** argv) {
    const int sessions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    BenchFolder folder;
    {
        const auto storage = server::SqliteStorage::open(folder.path("accounts.db"));
        const std::string hash = cheapHash("pw");
        for (int i = 0; i < sessions; ++i)
            if (!storage || storage->addUser("user" + std::to_string(i), hash, {}) != server::StorageResult::Done) {
                std::fprintf(stderr, "could not add the accounts\n");
                return 1;
            }
    }
    Program program(folder);
    const uint16_t port = program.port();
    if (port == 0) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    const long idleKiB = settledResidentKiB(program);
    const double idleCpu = idleCpuPercent(program);

    // Sessions are logged in in two halves, each then sending one
    // keep-alive, answered with the interval. What the second half adds is
    // what a session costs once the fixed costs of the first (the database
    // pages in the cache, the worker threads' heaps) are paid.
    std::vector<std::unique_ptr<TcpSocket>> held;
    double loginSeconds = 0;
    const auto logInUpTo = [&](int count) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = static_cast<int>(held.size()); i < count; ++i) {
            auto socket = std::make_unique<TcpSocket>();
            if (!connectTo(*socket, "127.0.0.1", port) || !logIn(*socket, "user" + std::to_string(i), "pw")) {
                std::fprintf(stderr, "log-in %d failed\n", i);
                std::exit(1);
            }
            uint8_t interval = 0;
            if (socket->SendByte(60) != 1 || !receiveAll(*socket, &interval, 1)) {
                std::fprintf(stderr, "a keep-alive went unanswered\n");
                std::exit(1);
            }
            held.push_back(std::move(socket));
        }
        loginSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    logInUpTo(sessions / 2);
    const long halfKiB = settledResidentKiB(program);
    logInUpTo(sessions);
    const long busyKiB = settledResidentKiB(program);
    const double busyCpu = idleCpuPercent(program);

    const double perSession = static_cast<double>(busyKiB - idleKiB) * 1024.0 / sessions;
    const double marginal = static_cast<double>(busyKiB - halfKiB) * 1024.0 / (sessions - sessions / 2);
    std::printf("server sessions: %d logged in (%.0f log-ins/s on one connection at a time, cheapest hash)\n", sessions,
                sessions / loginSeconds);
    std::printf("  resident: idle %ld KiB, with half the sessions %ld KiB, with all %ld KiB: %.0f bytes per session "
                "over the idle process, %.0f for each of the second half (goal at most 2048)\n",
                idleKiB, halfKiB, busyKiB, perSession, marginal);
    std::printf("  processor while idle: %.2f%% of a core without sessions, %.2f%% with them\n", idleCpu, busyCpu);
    return 0;
}
