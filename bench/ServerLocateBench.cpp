// Round trips on one connection: Locate of an online user against a bare
// server of the same 12-byte blocks that only echoes (the same two round
// trips: a YES to the header, then a YES carrying the payload back), both
// on one thread of their own on the same loopback, in the same run. Log-ins
// per second on fresh connections, with the production password hash and
// with the cheapest one, show what the hash costs.
//
//   server_locate_bench [round trips] [rounds]

#include "BenchSupport.h"
#include "Server.h"
#include "ServerBenchSupport.h"
#include "storage/PasswordHash.h"
#include "storage/SqliteStorage.h"

#include <boost/asio.hpp>

#include <array>
#include <thread>
#include <vector>

using namespace vp;
using namespace vp::bench;
namespace asio = boost::asio;
using asio::ip::tcp;

namespace {

asio::awaitable<void> echo(tcp::socket socket) {
    socket.set_option(tcp::no_delay(true));
    std::array<uint8_t, 12> header{};
    std::vector<uint8_t> payload;
    try {
        for (;;) {
            co_await asio::async_read(socket, asio::buffer(header), asio::use_awaitable);
            const uint32_t length = readLittleEndian32(header.data() + 8);
            if (length > 4096) co_return;
            std::array<uint8_t, 12> reply{};
            writeLittleEndian32(reply.data(), kOwnVersion);
            writeLittleEndian32(reply.data() + 4, 1);
            co_await asio::async_write(socket, asio::buffer(reply), asio::use_awaitable);
            payload.resize(12 + length);
            co_await asio::async_read(socket, asio::buffer(payload.data() + 12, length), asio::use_awaitable);
            writeLittleEndian32(payload.data(), kOwnVersion);
            writeLittleEndian32(payload.data() + 4, 1);
            writeLittleEndian32(payload.data() + 8, length);
            co_await asio::async_write(socket, asio::buffer(payload), asio::use_awaitable);
        }
    } catch (const std::exception&) {
    }
}

asio::awaitable<void> listen(tcp::acceptor& acceptor) {
    for (;;) {
        tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
        asio::co_spawn(acceptor.get_executor(), echo(std::move(socket)), asio::detached);
    }
}

// The time per exchange, in microseconds, over count exchanges.
double microsecondsEach(int rounds, int count, TcpSocket& socket, const std::string& request, size_t answerSize) {
    std::string answer(answerSize, '\0');
    return medianMilliseconds(rounds, [&] {
               for (int i = 0; i < count; ++i) {
                   if (!sendAll(socket, request.data(), 12) || !receiveAll(socket, answer.data(), 12) ||
                       !sendAll(socket, request.data() + 12, request.size() - 12) ||
                       !receiveAll(socket, answer.data(), answer.size())) {
                       std::fprintf(stderr, "an exchange failed\n");
                       std::exit(1);
                   }
               }
           }) *
           1000.0 / count;
}

double loginsPerSecond(int rounds, int count, uint16_t port, const char* user) {
    const double each = medianMilliseconds(rounds, [&] {
                            for (int i = 0; i < count; ++i) {
                                TcpSocket session;
                                if (!connectTo(session, "127.0.0.1", port) || !logIn(session, user, "pw")) {
                                    std::fprintf(stderr, "a log-in failed\n");
                                    std::exit(1);
                                }
                            }
                        }) /
                        count;
    return 1000.0 / each;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (NetStartup() != 1) return 1;
    BenchFolder folder;
    const auto storage = server::SqliteStorage::open(folder.path("accounts.db"));
    const auto strong = server::hashPassword("pw");
    if (!storage || !strong || storage->addUser("ann", cheapHash("pw"), {}) != server::StorageResult::Done ||
        storage->addUser("bob", *strong, {}) != server::StorageResult::Done) {
        std::fprintf(stderr, "could not add the accounts\n");
        return 1;
    }
    server::ServerConfig config;
    config.listenAddress = "127.0.0.1";
    config.port = 0;
    config.webPort = 0;
    asio::io_context serverIo;
    server::Server server(serverIo, config, *storage);
    if (!server.start()) return 1;
    std::thread serverThread([&] { serverIo.run(); });

    asio::io_context echoIo;
    tcp::acceptor acceptor(echoIo, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    asio::co_spawn(echoIo, listen(acceptor), asio::detached);
    std::thread echoThread([&] { echoIo.run(); });

    TcpSocket session, locating, echoing;
    if (!connectTo(session, "127.0.0.1", server.port()) || !logIn(session, "ann", "pw") ||
        !connectTo(locating, "127.0.0.1", server.port()) ||
        !connectTo(echoing, "127.0.0.1", acceptor.local_endpoint().port())) {
        std::fprintf(stderr, "could not set up\n");
        return 1;
    }
    const std::string locate = frame(1002, 3) + "ann";
    const double echoEach = microsecondsEach(rounds, count, echoing, locate, 12 + 3);
    const double locateEach = microsecondsEach(rounds, count, locating, locate, 12 + 9);
    const double cheapLogins = loginsPerSecond(rounds, 200, server.port(), "ann");
    const double strongLogins = loginsPerSecond(3, 10, server.port(), "bob");

    std::printf("locate: %.1f us per exchange, echo of the same blocks %.1f us: %.2fx (goal at most 2x)\n", locateEach,
                echoEach, locateEach / echoEach);
    std::printf("log-ins: %.0f per second with the cheapest hash, %.1f per second with the production hash\n",
                cheapLogins, strongLogins);
    server.stop();
    echoIo.stop();
    serverThread.join();
    echoThread.join();
    NetCleanup();
    return 0;
}
