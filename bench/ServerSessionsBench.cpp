// Thousands of logged-in sessions held by the real program: the resident
// memory each adds to the idle process, and the processor time the process
// takes while they sit idle between keep-alives, against the same process
// idle without them, in the same run.
//
//   server_sessions_bench [sessions]

#include "BenchSupport.h"
#include "ServerBenchSupport.h"
#include "storage/SqliteStorage.h"
#include "support/ServerProcess.h"

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

// What the kernel says of the program.
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// User and system time so far, in clock ticks.
long cpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
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

// The median of three readings of the resident size, a second apart.
long settledResidentKiB(pid_t pid) {
    std::vector<long> readings;
    for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        readings.push_back(residentKiB(pid));
    }
    std::sort(readings.begin(), readings.end());
    return readings[1];
}

// Processor time over a few idle seconds, as a share of one core.
double idleCpuPercent(pid_t pid) {
    const long ticks = cpuTicks(pid);
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return 100.0 * static_cast<double>(cpuTicks(pid) - ticks) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
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
    test::ServerProcess program(folder.root(), "127.0.0.1");
    const uint16_t port = program.port();
    if (port == 0) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    const long idleKiB = settledResidentKiB(program.pid());
    const double idleCpu = idleCpuPercent(program.pid());

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
    const long halfKiB = settledResidentKiB(program.pid());
    logInUpTo(sessions);
    const long busyKiB = settledResidentKiB(program.pid());
    const double busyCpu = idleCpuPercent(program.pid());

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
