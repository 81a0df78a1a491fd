#include "foundation/TcpSocket.h"

#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>
#include <vector>

namespace vp {
namespace {

using namespace std::chrono_literals;

class TcpSocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NetStartup(), 1u); }
    void TearDown() override { EXPECT_EQ(NetCleanup(), 1u); }

    // A listener on address at a port the system picks; the port is read back.
    static uint16_t listenOn(TcpSocket& listener, const char* address = "127.0.0.1") {
        if (listener.Bind(0, address) != 1 || listener.Listen() != 1) return 0;
        return listener.LocalPort();
    }

    // A connected pair over loopback: client connected, server accepted.
    static void connectPair(TcpSocket& client, TcpSocket& server) {
        TcpSocket listener;
        const uint16_t port = listenOn(listener);
        ASSERT_NE(port, 0);
        ASSERT_EQ(client.Connect("127.0.0.1", port), 1u) << client.LastError();
        server = listener.Accept();
        ASSERT_EQ(server.IsConnected(), 1u) << listener.LastError();
    }
};

// The complete-transfer loops every caller builds: the count not moved.
template <typename Byte, typename Step>
uint32_t transferAll(Byte* bytes, uint32_t count, const Step& step) {
    while (count > 0) {
        const uint32_t moved = step(bytes, count);
        if (moved == 0) break;
        bytes += moved;
        count -= moved;
    }
    return count;
}

uint32_t sendAll(TcpSocket& socket, const uint8_t* data, uint32_t count) {
    return transferAll(data, count, [&](const uint8_t* at, uint32_t left) { return socket.Send(at, left); });
}

uint32_t recvAll(TcpSocket& socket, uint8_t* buffer, uint32_t count) {
    return transferAll(buffer, count, [&](uint8_t* at, uint32_t left) { return socket.Recv(at, left); });
}

using test::eventually;

// Each exchange is a small block waiting for a small answer: both the
// connecting and the accepting end must send without delay. The handle moves
// from owner to owner without being closed on the way, and a move leaves
// nothing behind that could close it.
TEST_F(TcpSocketTest, ConnectionsKnowTheirPeerSendAtOnceAndMoveWithTheirHandle) {
    TcpSocket listener;
    const uint16_t port = listenOn(listener);
    TcpSocket client;
    EXPECT_EQ(client.IsConnected(), 0u);
    ASSERT_EQ(client.Connect("localhost", port), 1u) << client.LastError();
    TcpSocket server = listener.Accept();
    ASSERT_EQ(server.IsConnected(), 1u);
    EXPECT_EQ(server.LastError(), 0u);
    // The listener took the one address it was given, not every local one.
    TcpSocket elsewhere;
    EXPECT_EQ(elsewhere.Connect("127.0.0.2", port), 0u);
    char text[16];
    ASSERT_EQ(server.PeerAddress(text, sizeof text), 1u);
    EXPECT_STREQ(text, "127.0.0.1");
    // A short buffer gets what fits and its NUL, never more.
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    ASSERT_EQ(client.PeerAddress(small, 4), 1u);
    EXPECT_STREQ(small, "127");
    EXPECT_EQ(small[4], 'x');
    EXPECT_EQ(client.PeerAddress(small, 0), 0u);

    TcpSocket moved(std::move(client));
    EXPECT_EQ(client.IsValid(), 0u);
    EXPECT_EQ(client.IsConnected(), 0u);
    EXPECT_EQ(moved.IsConnected(), 1u);
    const platform::SocketHandle connected = moved.release();
    const platform::SocketHandle accepted = server.release();
    EXPECT_EQ(moved.IsValid(), 0u);
    EXPECT_TRUE(platform::noDelay(connected));
    EXPECT_TRUE(platform::noDelay(accepted));

    // Taken back, each end knows its peer again and the bytes still flow;
    // SendByte sends the low 8 bits.
    client.reset(connected);
    server.reset(accepted);
    ASSERT_EQ(client.PeerAddress(text, sizeof text), 1u);
    EXPECT_STREQ(text, "127.0.0.1");
    uint8_t byte = 0;
    ASSERT_EQ(client.SendByte(0x1A5), 1u);
    ASSERT_EQ(server.RecvTimed(&byte, 1, 1), 1u);
    EXPECT_EQ(byte, 0xA5);

    // Assigning over a connection closes it: the peer sees the end, not a time-out.
    server = TcpSocket(platform::kNoSocket);
    EXPECT_EQ(server.IsValid(), 0u);
    EXPECT_EQ(client.RecvTimed(&byte, 1, 1), 0u);
    EXPECT_NE(client.LastError(), TcpSocket::ErrTimeout);
    // A cancel stays with the connection it was made for.
    client.Cancel();
    TcpSocket cancelled = std::move(client);
    EXPECT_EQ(cancelled.Recv(&byte, 1), 0u);
    EXPECT_EQ(cancelled.LastError(), TcpSocket::ErrNotConnected);
}

TEST_F(TcpSocketTest, NonBlockingConnectCompletesThroughPollConnectedAndCarriesALargeTransfer) {
    TcpSocket listener;
    const uint16_t port = listenOn(listener);
    TcpSocket client;
    ASSERT_EQ(client.SetNonBlocking(1), 1u);
    EXPECT_EQ(client.Connect("127.0.0.1", port), 0u);
    EXPECT_EQ(client.LastError(), TcpSocket::ErrWouldBlock);
    EXPECT_EQ(client.IsConnected(), 0u);
    EXPECT_TRUE(eventually([&] { return client.PollConnected(100) == 1; }));
    EXPECT_EQ(client.IsConnected(), 1u);
    EXPECT_EQ(client.PollConnected(), 1u);
    ASSERT_EQ(client.SetNonBlocking(0), 1u);
    TcpSocket server = listener.Accept();
    ASSERT_EQ(server.IsConnected(), 1u);

    // Far more than one receive moves, so the receiver goes through partial
    // transfers; the close ends it should bytes go missing.
    constexpr uint32_t kSize = 256 * 1024;
    std::vector<uint8_t> sent(kSize), received(kSize);
    for (uint32_t i = 0; i < kSize; ++i) sent[i] = static_cast<uint8_t>(i * 7 + i / 251);
    uint32_t unsent = kSize;
    std::thread sender([&] { unsent = sendAll(client, sent.data(), kSize); client.Close(); });
    EXPECT_EQ(recvAll(server, received.data(), kSize), 0u);
    sender.join();
    EXPECT_EQ(unsent, 0u);
    EXPECT_TRUE(received == sent);
}

// Every transfer on a socket that is not connected fails with
// ErrNotConnected, also after each way a connect can fail.
TEST_F(TcpSocketTest, FailedConnectsLeaveTheSocketRefusingTransfers) {
    TcpSocket socket;
    ASSERT_EQ(socket.IsValid(), 1u);
    uint8_t buffer[4] = {};
    char text[16];
    EXPECT_EQ(socket.Bind(0, "not-an-address"), 0u);
    EXPECT_EQ(socket.LastError(), TcpSocket::ErrHostNotFound);
    const std::vector<std::pair<const char*, std::function<uint32_t()>>> calls = {
        {"Send", [&] { return socket.Send(buffer, 4); }},
        {"SendTimed", [&] { return socket.SendTimed(buffer, 4, 1); }},
        {"Recv", [&] { return socket.Recv(buffer, 4); }},
        {"RecvTimed", [&] { return socket.RecvTimed(buffer, 4, 1); }},
        {"PollByte", [&] { return socket.PollByte(buffer[0]); }},
        {"PeekAlive", [&] { return socket.PeekAlive(); }},
        {"PeerAddress", [&] { return socket.PeerAddress(text, sizeof text); }},
    };
    const auto expectRefusals = [&](const char* after) {
        SCOPED_TRACE(after);
        EXPECT_EQ(socket.IsConnected(), 0u);
        for (const auto& [name, call] : calls) {
            EXPECT_EQ(call(), 0u) << name;
            EXPECT_EQ(socket.LastError(), TcpSocket::ErrNotConnected) << name;
        }
        EXPECT_EQ(socket.WaitReadable(), 1u);
    };
    expectRefusals("nothing");

    // A port that is bound but not listening refuses, and nobody else can
    // take it while this test holds it.
    TcpSocket closed;
    ASSERT_EQ(closed.Bind(0, "127.0.0.1"), 1u);
    const uint16_t port = closed.LocalPort();
    ASSERT_NE(port, 0);
    EXPECT_EQ(socket.Connect("127.0.0.1", port), 0u);
    EXPECT_GT(socket.LastError(), TcpSocket::ErrWouldBlock);
    expectRefusals("a refused connect");
    ASSERT_EQ(socket.Create(), 1u);
    EXPECT_EQ(socket.Connect("no-such-host.invalid", port), 0u);
    EXPECT_EQ(socket.LastError(), TcpSocket::ErrHostNotFound);
    expectRefusals("an unknown host");

    // POSIX reports a refused non-blocking connect as writable; that must
    // come out as a failure, not as a connection, on every later poll too.
    ASSERT_EQ(socket.Create(), 1u);
    ASSERT_EQ(socket.SetNonBlocking(1), 1u);
    EXPECT_EQ(socket.Connect("127.0.0.1", port), 0u);
    EXPECT_EQ(socket.LastError(), TcpSocket::ErrWouldBlock);
    EXPECT_TRUE(eventually([&] { return socket.PollConnected(100) == 0 && socket.LastError() > 5; }));
    EXPECT_EQ(socket.PollConnected(), 0u);
    EXPECT_GT(socket.LastError(), TcpSocket::ErrWouldBlock);
    expectRefusals("a refused non-blocking connect");

    // Nothing to reset: the handle stays as it was.
    EXPECT_EQ(socket.Reset(), 1u);
    EXPECT_EQ(socket.IsValid(), 1u);
    EXPECT_EQ(socket.Close(), 1u);
    EXPECT_EQ(socket.IsValid(), 0u);
    EXPECT_EQ(socket.Close(), 1u);
    EXPECT_EQ(socket.Send(buffer, 4), 0u);
}

TEST_F(TcpSocketTest, TimedWaitsPollsAndThePeersCloseEndingTransfers) {
    TcpSocket client;
    TcpSocket server;
    connectPair(client, server);

    uint8_t buffer[10] = {};
    EXPECT_EQ(client.RecvTimed(buffer, 1, 1), 0u);
    EXPECT_EQ(client.LastError(), TcpSocket::ErrTimeout);
    EXPECT_EQ(client.IsConnected(), 1u);
    EXPECT_EQ(client.PeekAlive(), 1u);
    EXPECT_EQ(client.PollByte(buffer[0]), 0u);
    EXPECT_EQ(client.LastError(), TcpSocket::ErrTimeout);
    ASSERT_EQ(server.SendTimed("x", 1, 1), 1u);
    EXPECT_EQ(client.RecvTimed(buffer, 1, 1), 1u);
    EXPECT_EQ(buffer[0], 'x');

    // Both bytes leave in one send and arrive together: once the first is
    // polled, the second is waiting for the peeks.
    ASSERT_EQ(sendAll(server, reinterpret_cast<const uint8_t*>("yz"), 2), 0u);
    ASSERT_TRUE(eventually([&] { return client.PollByte(buffer[0]) == 1; }));
    EXPECT_EQ(buffer[0], 'y');
    for (int i = 0; i < 3; ++i) EXPECT_EQ(client.PeekAlive(), 1u);
    EXPECT_EQ(client.PollByte(buffer[0]), 1u);
    EXPECT_EQ(buffer[0], 'z');
    EXPECT_EQ(client.PollByte(buffer[0]), 0u);
    EXPECT_EQ(client.LastError(), TcpSocket::ErrTimeout);

    // A complete transfer ends short at the close, and the polls tell the
    // close apart from the "nothing yet" an earlier empty poll left behind.
    const uint8_t partial[] = {1, 2, 3};
    ASSERT_EQ(sendAll(server, partial, 3), 0u);
    ASSERT_EQ(server.Close(), 1u);
    EXPECT_EQ(recvAll(client, buffer, 10), 7u);
    EXPECT_EQ(std::memcmp(buffer, partial, 3), 0);
    EXPECT_EQ(client.Recv(buffer, 10), 0u);
    EXPECT_TRUE(eventually([&] { return client.PeekAlive() == 0; }));
    EXPECT_EQ(client.LastError(), TcpSocket::ErrNotConnected);
    EXPECT_EQ(client.PollByte(buffer[0]), 0u);
    EXPECT_EQ(client.LastError(), TcpSocket::ErrNotConnected);

    // The first sends may still be taken into the buffer; the peer's reset
    // makes a later one fail, which without care raises SIGPIPE.
    const uint8_t block[512] = {};
    EXPECT_TRUE(eventually([&] { return client.Send(block, sizeof block) == 0; }));
    EXPECT_GT(client.LastError(), TcpSocket::ErrWouldBlock);
}

TEST_F(TcpSocketTest, PollByteAndPeekAliveShareTheSocketAcrossThreads) {
    TcpSocket client;
    TcpSocket server;
    connectPair(client, server);

    constexpr uint32_t kCount = 200;
    std::vector<uint8_t> sent(kCount);
    for (uint32_t i = 0; i < kCount; ++i) sent[i] = static_cast<uint8_t>(i * 7);

    std::atomic<bool> done{false};
    std::atomic<uint32_t> peekFailures{0};
    std::thread peeker([&] {
        while (!done) {
            if (client.PeekAlive() != 1) ++peekFailures;
            std::this_thread::yield();
        }
    });
    std::vector<uint8_t> received;
    std::thread poller([&] {
        for (int attempt = 0; attempt < 200000 && received.size() < kCount; ++attempt) {
            uint8_t byte = 0;
            if (client.PollByte(byte) == 1) received.push_back(byte);
            else if (client.LastError() != TcpSocket::ErrTimeout) break;
        }
    });
    for (uint32_t i = 0; i < kCount; i += 20) EXPECT_EQ(sendAll(server, sent.data() + i, 20), 0u);
    poller.join();
    done = true;
    peeker.join();
    EXPECT_EQ(received, sent);
    EXPECT_EQ(peekFailures, 0u);
}

TEST_F(TcpSocketTest, ResetGivesAConnectedSocketAFreshStart) {
    TcpSocket listener;
    const uint16_t port = listenOn(listener);
    TcpSocket client;
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1u);
    // Bind on a connected socket used to report whatever platform error was
    // left over from an earlier call.
    EXPECT_EQ(client.Bind(0), 0u);
    EXPECT_EQ(client.LastError(), TcpSocket::ErrConnected);
    TcpSocket first = listener.Accept();
    ASSERT_EQ(first.IsConnected(), 1u);

    ASSERT_EQ(client.Reset(), 1u);
    EXPECT_EQ(client.IsConnected(), 0u);
    EXPECT_EQ(client.IsValid(), 1u);
    EXPECT_EQ(client.LastError(), 0u);
    // The old connection is gone for the peer; the fresh handle connects again.
    uint8_t byte = 0;
    EXPECT_EQ(first.RecvTimed(&byte, 1, 1), 0u);
    ASSERT_EQ(client.Connect("127.0.0.1", port), 1u) << client.LastError();
    TcpSocket second = listener.Accept();
    ASSERT_EQ(client.SendByte('r'), 1u);
    EXPECT_EQ(second.RecvTimed(&byte, 1, 1), 1u);
    EXPECT_EQ(byte, 'r');
}

TEST_F(TcpSocketTest, CancelReleasesBlockedCallsFromAnotherThread) {
    std::vector<uint8_t> block(1u << 20, 0x5A);
    const struct {
        const char* name;
        bool listens;  // the call waits on a listener, else on a connection
        std::function<uint32_t(TcpSocket&)> call;
    } cases[] = {
        {"Recv", false, [](TcpSocket& socket) { uint8_t byte = 0; return socket.Recv(&byte, 1); }},
        {"WaitReadable", false, [](TcpSocket& socket) { return socket.WaitReadable(); }},
        {"Accept", true, [](TcpSocket& socket) { return socket.Accept().IsConnected(); }},
        // The peer reads nothing, so the sender blocks once the buffers on
        // both sides are full. A send blocked inside Winsock is not woken by
        // shutdown(): the waiting for room must happen in the sliced wait.
        {"Send into a full connection", false,
         [&block](TcpSocket& socket) {
             for (int i = 0; i < 256; ++i) {
                 if (sendAll(socket, block.data(), static_cast<uint32_t>(block.size())) != 0) return 0u;
             }
             return 1u;
         }},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        TcpSocket blocked;
        TcpSocket peer;
        uint16_t port = 0;
        if (each.listens) {
            port = listenOn(blocked);
            ASSERT_NE(port, 0);
        } else {
            connectPair(blocked, peer);
        }
        std::promise<uint32_t> finished;
        std::future<uint32_t> result = finished.get_future();
        std::thread worker([&] { finished.set_value(each.call(blocked)); });
        EXPECT_EQ(result.wait_for(100ms), std::future_status::timeout);  // the call blocks
        blocked.Cancel();
        const bool released = result.wait_for(1s) == std::future_status::ready;
        EXPECT_TRUE(released);
        // Should the cancel not release the call, the peer does, so that a
        // failing test still ends.
        if (!released && each.listens) peer.Connect("127.0.0.1", port);
        else if (!released) peer.Close();
        worker.join();
        EXPECT_EQ(result.get(), 0u);
        EXPECT_EQ(blocked.LastError(), TcpSocket::ErrNotConnected);
        // Later calls fail at once, even with data waiting, and the handle
        // is still the owner's to close.
        peer.SendByte('x');
        uint8_t byte = 0;
        EXPECT_EQ(blocked.Recv(&byte, 1), 0u);
        EXPECT_EQ(blocked.LastError(), TcpSocket::ErrNotConnected);
        EXPECT_EQ(blocked.IsValid(), 1u);
    }
}

TEST_F(TcpSocketTest, DottedAddressesAndTheLocalAddress) {
    const struct {
        const char* text;
        uint32_t dotted;
    } cases[] = {
        {"127.0.0.1", 1}, {"10.1.2.3", 1}, {"1.2.3", 1},  // read as 1.2.0.3
        {"localhost", 0}, {"1.2.3.256", 0}, {"", 0}, {nullptr, 0},
    };
    for (const auto& each : cases) {
        EXPECT_EQ(IsDottedAddress(each.text), each.dotted) << (each.text ? each.text : "null");
    }

    char text[16];
    EXPECT_EQ(LocalAddress(text, 0), 0u);
    if (LocalAddress(text, sizeof text) != 1) GTEST_SKIP() << "this machine's host name does not resolve";
    EXPECT_EQ(IsDottedAddress(text), 1u) << text;
    char small[4];
    ASSERT_EQ(LocalAddress(small, sizeof small), 1u);
    EXPECT_EQ(std::strlen(small), 3u);
    EXPECT_EQ(std::strncmp(small, text, 3), 0);
}

} // namespace
} // namespace vp
