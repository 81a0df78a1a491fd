// A long stream through the relay against the same stream sent straight
// from one loopback socket to another, in the same run: the relay reads
// each side and writes the other through one bounded buffer per direction.
//
//   relay_throughput_bench [megabytes] [rounds]

#include "BenchSupport.h"
#include "Server.h"
#include "ServerBenchSupport.h"
#include "storage/SqliteStorage.h"

#include <boost/asio/io_context.hpp>

#include <algorithm>
#include <thread>
#include <vector>

using namespace vp;
using namespace vp::bench;

namespace {

constexpr uint32_t kPiece = 256 * 1024;

// Sends megabytes from one socket and reads them at the other; the time of
// the whole stream.
void stream(TcpSocket& from, TcpSocket& to, size_t megabytes) {
    std::thread sending([&] {
        std::vector<char> piece(kPiece, 'x');
        for (size_t left = megabytes << 20; left > 0; left -= std::min<size_t>(left, kPiece))
            if (!sendAll(from, piece.data(), std::min<size_t>(left, kPiece))) break;
    });
    std::vector<char> piece(kPiece);
    size_t received = 0;
    while (received < (megabytes << 20)) {
        const uint32_t got = to.Recv(piece.data(), kPiece);
        if (got == 0) break;
        received += got;
    }
    sending.join();
    if (received != megabytes << 20) {
        std::fprintf(stderr, "the stream was cut at %zu bytes\n", received);
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    const size_t megabytes = argc > 1 ? static_cast<size_t>(std::max(1, std::atoi(argv[1]))) : 200;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (NetStartup() != 1) return 1;
    BenchFolder folder;
    const auto storage = server::SqliteStorage::open(folder.path("accounts.db"));
    if (!storage || storage->addUser("bob", cheapHash("pw"), {}) != server::StorageResult::Done) return 1;

    // The receiver takes the ticket on a peer port of the bench's own.
    TcpSocket peerPort;
    if (peerPort.Bind(0, "127.0.0.1") != 1 || peerPort.Listen() != 1) return 1;
    server::ServerConfig config;
    config.listenAddress = "127.0.0.1";
    config.port = 0;
    config.webPort = 0;
    config.peerPort = peerPort.LocalPort();
    boost::asio::io_context io;
    server::Server server(io, config, *storage);
    if (!server.start()) return 1;
    std::thread serverThread([&] { io.run(); });
    TcpSocket session;
    if (!connectTo(session, "127.0.0.1", server.port()) || !logIn(session, "bob", "pw")) return 1;

    const auto relayed = [&] {
        TcpSocket sender, receiver;
        std::string ticket(32, '\0');
        uint8_t header[12];
        TcpSocket notice;
        const bool joined = connectTo(sender, "127.0.0.1", server.port()) && sendAll(sender, frame(1011, 3)) &&
                            expectYes(sender) && sendAll(sender, "bob") &&
                            (notice = peerPort.Accept()).IsConnected() && receiveAll(notice, header, 12) &&
                            sendAll(notice, frame(1, 0)) && receiveAll(notice, ticket.data(), ticket.size()) &&
                            connectTo(receiver, "127.0.0.1", server.port()) && sendAll(receiver, frame(1012, 32)) &&
                            expectYes(receiver) && sendAll(receiver, ticket) && expectYes(receiver) && expectYes(sender);
        if (!joined) {
            std::fprintf(stderr, "the relay did not join\n");
            std::exit(1);
        }
        stream(sender, receiver, megabytes);
    };
    const auto direct = [&] {
        TcpSocket listener;
        listener.Bind(0, "127.0.0.1");
        listener.Listen();
        TcpSocket sender;
        connectTo(sender, "127.0.0.1", listener.LocalPort());
        TcpSocket receiver = listener.Accept();
        stream(sender, receiver, megabytes);
    };
    // The two alternate, round by round, so that whatever else the machine
    // does meanwhile weighs on both alike.
    std::vector<double> directTimes, relayTimes;
    for (int round = 0; round < rounds; ++round) {
        directTimes.push_back(medianMilliseconds(1, direct));
        relayTimes.push_back(medianMilliseconds(1, relayed));
    }
    const auto median = [](std::vector<double>& times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const double directMs = median(directTimes);
    const double relayMs = median(relayTimes);
    const auto rate = [&](double ms) { return static_cast<double>(megabytes) / (ms / 1000.0); };
    std::printf("relay: %zu MB at %.0f MB/s, straight over loopback %.0f MB/s: %.0f%% (goal at least 70%%)\n", megabytes,
                rate(relayMs), rate(directMs), 100.0 * directMs / relayMs);
    server.stop();
    serverThread.join();
    NetCleanup();
    return 0;
}
