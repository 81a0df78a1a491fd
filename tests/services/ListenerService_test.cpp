// The listeners on loopback ports the system picks: each accepted
// connection on a worker of its own, a listener opened once; and the event
// connection, over which the server started for the run asks for a relay.

#include "protocol/ProtocolFixture.h"
#include "services/ListenerService.h"
#include "support/ClientCalls.h"
#include "support/Eventually.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace vp {
namespace {

using namespace test;

// Refuses every note, once it has seen `together` of them at the same time
// (or waited five seconds for that).
struct Receiver final : NoteReceiverPort {
    std::atomic<int> inside{0}, most{0}, notes{0};
    int together = 2;
    uint32_t ReceiveNote(ClientProtocol&, TcpSocket&, const FrameHeader&, std::unique_ptr<NoteRecord>&) override {
        const int now = ++inside;
        most = std::max(most.load(), now);
        ++notes;
        eventually([this] { return most >= together; });
        --inside;
        return 0;
    }
};

std::string noteRefused(uint16_t port) {
    TcpSocket socket;
    char reply[12] = {};
    const std::string header = frame(kOwnVersion, 1003, 40);
    if (!socket.Connect("127.0.0.1", port) || !socket.Send(header.data(), 12)) return "no connection";
    return socket.Recv(reply, 12) == 12 ? std::string(reply, 12) : "no reply";
}

class ListenerTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        m_setup.protocol = m_context;
        m_setup.protocol.notes = &m_receiver;
        m_setup.bindAddress = "127.0.0.1";
        m_setup.peerPort = m_setup.httpPort = 0;
        m_setup.serveHttp = [](TcpSocket& connection) { connection.Send("page", 4); };
    }
    Receiver m_receiver;
    ListenerSetup m_setup;
};

TEST_F(ListenerTest, EachConnectionIsServedOnAWorkerOfItsOwn) {
    ListenerService listeners(m_setup);
    ASSERT_EQ(listeners.start(), 1u);
    ASSERT_EQ(listeners.openListeners(), 1u);
    EXPECT_EQ(listeners.openListeners(), 0u);
    const uint16_t peer = listeners.peerPort();
    EXPECT_EQ(listeners.isPeerListenerRunning() * (peer != 0) * (listeners.httpPort() != 0), 1u);
    std::string replies[2];
    std::thread other([&] { replies[0] = noteRefused(peer); });
    replies[1] = noteRefused(peer);
    other.join();
    EXPECT_EQ(replies[0] + replies[1], no() + no());
    EXPECT_EQ(m_receiver.most.load(), 2);

    TcpSocket browser;
    char page[5] = {};
    ASSERT_EQ(browser.Connect("127.0.0.1", listeners.httpPort()), 1u);
    EXPECT_EQ(browser.Recv(page, 4), 4u);
    EXPECT_STREQ(page, "page");

    listeners.closeListeners();
    EXPECT_EQ(listeners.isPeerListenerRunning(), 0u);
    EXPECT_EQ(noteRefused(peer), "no connection");
}

// ann logs in with no listener open: the server hands her a ticket, the
// service opens the event connection with it, and a relay bob asks for
// reaches her note receiver through a relay thread.
TEST_F(ListenerTest, TheEventConnectionAnswersRelays) {
    ClientCalls server;
    const char* file = std::getenv("VP_TEST_SERVER_FILE");
    if (!file || !(std::ifstream(file) >> server.host >> server.port)) GTEST_SKIP() << "no server runs";
    m_setup.protocol.serverPort = server.port;
    m_receiver.together = 1;
    ListenerService listeners(m_setup);
    ASSERT_EQ(listeners.start(), 1u);
    TcpSocket annSession;
    ASSERT_EQ(server.loginWith(annSession, "ann", "ann-pw", listeners), "OK Hello from mainhub.");
    ProtocolContext bob;
    bob.serverPort = server.port;
    TcpSocket relayed;
    // The event connection opens in the background.
    ASSERT_TRUE(eventually([&] {
        relayed.Create();
        ClientProtocol protocol(bob);
        return protocol.ConnectToServer(relayed, server.host.c_str(), 0, 5000, 100) &&
               protocol.RequestRelay(relayed, "ann", 5000, 100);
    }));
    const std::string header = frame(kOwnVersion, 1003, 40);
    char reply[12] = {};
    ASSERT_EQ(relayed.Send(header.data(), 12), 12u);
    EXPECT_EQ(ClientProtocol(bob).RecvAll(relayed, reply, 12), 1u);
    EXPECT_EQ(std::string(reply, 12), no());
    EXPECT_EQ(m_receiver.notes.load(), 1);
    listeners.closeEventConnection();
}

} // namespace
} // namespace vp
