// How long a short note takes through the server's relay against a direct
// note, both sent by name through the real server program in the same run:
// the sender locates the receiver each time; ann is behind a proxy (reached
// over her relay channel, her relay thread coming back to the server), carol
// takes connections. One client core receives for both, as the shipped
// client does.

#include "BenchSupport.h"
#include "NoteBenchSupport.h"
#include "ServerBenchSupport.h"
#include "foundation/ThreadLib.h"
#include "platform/Path.h"
#include "protocol/ClientProtocol.h"
#include "protocol/RelayAnswers.h"
#include "storage/SqliteStorage.h"
#include "support/ServerProcess.h"

#include <cstdio>
#include <string>
#include <thread>

namespace {

using namespace vp;
using namespace vp::bench;

constexpr int kRounds = 200;
constexpr char kText[] = "{\\rtf1 Lunch at one?\\par}";

} // namespace

int main() {
    if (!NetStartup() || !ThreadLib::init()) return 1;
    BenchFolder folder;
    {
        const auto storage = server::SqliteStorage::open(folder.path("accounts.db"));
        const std::string hash = cheapHash("pw");
        for (const char* user : {"ann", "bob", "carol"})
            if (!storage || storage->addUser(user, hash, {}) != server::StorageResult::Done) {
                std::fprintf(stderr, "could not add the accounts\n");
                return 1;
            }
    }
    test::ServerProcess program(folder.root(), "127.0.0.1");
    const uint16_t port = program.port();
    const std::string place = platform::fromNativePath(folder.root().string());
    NoteReceiverPeer receiver(place, place);
    RelayAnswers relays;
    receiver.context().relay = &relays;
    receiver.context().serverPort = port;

    TcpSocket annSession, carolSession, channel;
    std::string ticket;
    if (port == 0 || receiver.port() == 0 || !connectTo(annSession, "127.0.0.1", port) ||
        !logIn(annSession, "ann", "pw", true, &ticket) || !connectTo(carolSession, "127.0.0.1", port) ||
        !logIn(carolSession, "carol", "pw")) {
        std::fprintf(stderr, "the server or the receiver did not start\n");
        return 1;
    }
    if (!ClientProtocol(receiver.context()).OpenChannel(channel, "127.0.0.1", ticket.c_str())) {
        std::fprintf(stderr, "the relay channel did not open\n");
        return 1;
    }
    std::thread channelThread([&] {
        ClientProtocol protocol(receiver.context());
        while (protocol.ChannelMessage(channel)) {}
    });

    ProtocolContext context;
    context.serverPort = port;
    context.peerPort = receiver.port();
    const auto to = [&](const char* user) {
        return percentiles(kRounds, [&, user] {
            NoteRecord note(user);
            note.content.assign(kText, sizeof kText - 1);
            ClientProtocol protocol(context);
            return protocol.SendNote("127.0.0.1", "bob@mainhub", note) == 1;
        });
    };
    const auto relayed = to("ann");
    const auto direct = to("carol");
    const auto relayedAgain = to("ann");
    // Where the time goes: the connection alone, up to the point where the
    // note header would go.
    const auto connection = [&](const char* user) {
        return percentiles(kRounds, [&, user] {
            ClientProtocol protocol(context);
            TcpSocket socket;
            TextString address;
            uint32_t throughRelay = 0;
            return protocol.ConnectToReceiver(socket, "127.0.0.1", user, address, throughRelay, 60000, 100) == 1;
        });
    };
    const auto joined = connection("ann");
    const auto connected = connection("carol");

    channel.Cancel();
    channelThread.join();
    relays.stop();
    ThreadLib::shutdown();
    NetCleanup();
    if (relayed.first < 0 || direct.first < 0 || relayedAgain.first < 0 || joined.first < 0 || connected.first < 0) {
        std::fprintf(stderr, "a note was not delivered\n");
        return 1;
    }
    std::printf("note through the relay: median %.0f us, 99th percentile %.0f us (again: %.0f / %.0f); direct, "
                "located by the same server: median %.0f us, 99th percentile %.0f us: %.2fx at the median (goal "
                "within 3x)\n",
                relayed.first, relayed.second, relayedAgain.first, relayedAgain.second, direct.first, direct.second,
                relayedAgain.first / direct.first);
    std::printf("  of which the connection up to the note header: relayed %.0f us, direct %.0f us (medians)\n",
                joined.first, connected.first);
    return 0;
}
