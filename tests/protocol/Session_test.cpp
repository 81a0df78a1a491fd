#include "protocol/ProtocolFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using namespace test;

constexpr uint32_t kNewer = 0x0014FFEB;  // 1.4.0
constexpr uint32_t kOlder = 0x0012FFED;  // 1.2.0

class FakeListener : public PeerListenerPort {
public:
    uint32_t isPeerListenerRunning() override { return running; }
    uint32_t openEventConnection(const TextString& host, const TextString& ticket) override {
        opened.push_back(std::string(host.c_str()) + " " + ticket.c_str());
        return openResult;
    }
    uint32_t running = 1;
    uint32_t openResult = 1;
    std::vector<std::string> opened;
};

class SessionTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        m_context.listener = &m_listener;
        char local[64] = {};
        ASSERT_EQ(LocalAddress(local, sizeof local), 1u);
        m_localAddress = local;
    }

    static std::string loginPayload(uint32_t behindProxy) {
        return le32(3) + le32(6) + le32(4) + "bob" + "secret" + le32(behindProxy);
    }

    FakeListener m_listener;
    std::string m_localAddress;
};

TEST_F(SessionTest, ConnectToServerGoesToTheServerPort) {
    {
        ScriptedPeer peer;
        peer.expect(std::string("\x01", 1)).start();
        m_context.serverPort = peer.port();
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        // The port argument is not used: the context's server port is.
        ASSERT_EQ(protocol.ConnectToServer(socket, "127.0.0.1", 5000, 2000, 100), 1u);
        EXPECT_EQ(socket.IsConnected(), 1u);
        // Left blocking: a send just works.
        EXPECT_EQ(protocol.SendAll(socket, "\x01", 1), 1u);
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
    }
    // The peer has gone: nothing listens on its port any more.
    ClientProtocol protocol(m_context);
    TcpSocket refused;
    EXPECT_EQ(protocol.ConnectToServer(refused, "127.0.0.1", 5000, 300, 100), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Sorry.  Cannot connect to server at this moment.\n");
    TcpSocket unknownHost;
    EXPECT_EQ(protocol.ConnectToServer(unknownHost, "no-such-host.invalid", 5000, 300, 100), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Sorry.  Cannot connect to server at this moment.\n");
}

TEST_F(SessionTest, LoginFromAClientThatCanBeReached) {
    ScriptedPeer peer;
    peer.expect(frame(kOwnVersion, 1000, 25))
        .send(yes("first data is ignored"))
        .send(yes(m_localAddress))
        .expect(loginPayload(0))
        .send(yes("Welcome, bob"));
    ClientProtocol protocol(m_context);
    TcpSocket socket;
    connect(peer, socket);
    TextString result;
    EXPECT_EQ(protocol.Login(result, socket, "server.example", "bob", "secret"), 1u);
    EXPECT_STREQ(result.c_str(), "Welcome, bob");
    EXPECT_TRUE(m_listener.opened.empty());
    socket.Close();
    EXPECT_EQ(peer.finish(), "");
}

TEST_F(SessionTest, LoginFromBehindAProxyHandsTheTicketOn) {
    // The server sees another address than this machine's, or the peer
    // listener is not running: either way the client asks for the relay.
    for (const bool listening : {true, false}) {
        SCOPED_TRACE(listening ? "address differs" : "no peer listener");
        m_listener.running = listening ? 1 : 0;
        m_listener.opened.clear();
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1000, 25))
            .send(yes())
            .send(yes(listening ? "203.0.113.9" : m_localAddress))
            .expect(loginPayload(1))
            .send(yes(std::string("T\0K", 3)))
            .send(yes("Welcome"));
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        TextString result;
        EXPECT_EQ(protocol.Login(result, socket, "server.example", "bob", "secret"), 1u);
        EXPECT_STREQ(result.c_str(), "Welcome");
        ASSERT_EQ(m_listener.opened.size(), 1u);
        EXPECT_EQ(m_listener.opened[0], std::string("server.example T"));
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
    }
}

TEST_F(SessionTest, LoginFailures) {
    struct Case {
        const char* what;
        std::vector<std::string> replies;  // after the header; after the payload when it went
        bool payloadGoes;
        uint32_t openResult;
        const char* result;
    };
    const std::vector<Case> cases = {
        {"refused with a reason", {no("Unknown user name.")}, false, 1, "Unknown user name."},
        {"refused without one", {no()}, false, 1, ""},
        {"refused on the second reply", {yes(), no("Server full.")}, false, 1, "Server full."},
        {"another version", {yes("", kNewer)}, false, 1, ""},
        {"an empty ticket", {yes(), yes("203.0.113.9"), yes()}, true, 1, ""},
        {"the relay channel cannot open", {yes(), yes("203.0.113.9"), yes("T"), yes("Welcome")}, true, 0, ""},
        {"the final reply refuses", {yes(), yes("203.0.113.9"), yes("T"), no("Try later.")}, true, 1, "Try later."},
        {"lost before the final reply", {yes(), yes("203.0.113.9"), yes("T")}, true, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_listener.openResult = c.openResult;
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1000, 25));
        for (size_t i = 0; i < c.replies.size(); ++i) {
            if (i == 2 && c.payloadGoes) peer.expect(loginPayload(1));
            peer.send(c.replies[i]);
        }
        peer.hangUp();
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        TextString result = "stale";
        EXPECT_EQ(protocol.Login(result, socket, "server.example", "bob", "secret"), 0u);
        EXPECT_STREQ(result.c_str(), c.result);
        EXPECT_STREQ(protocol.errorText().c_str(), c.result);
        EXPECT_EQ(peer.finish(), "");
    }
}

TEST_F(SessionTest, LocateFindsAddressesAndExplainsRefusals) {
    {
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1002, 5)).send(yes()).expect("carol").send(yes("0.0.0.0"));
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        EXPECT_EQ(protocol.Locate(socket, "carol", 60000), 1u);
        EXPECT_STREQ(protocol.replyText().c_str(), "0.0.0.0");
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
    }
    m_general.SetString(GeneralOptions::kHomeURL, "http://home.example/");
    const std::string older =
        "Sorry, cannot deliver this note.\nIt appears you are running an incompatible (older?) version.\n\n"
        "Go to 'http://home.example/' to download the latest version.";
    const std::string outdated = "Sorry, cannot deliver this note.\nThe receiver is running an out-dated "
                                 "version.\n\nPlease ask them to upgrade their Vellumpost.";
    const std::string firstLost =
        "Sorry, cannot complete this task.\n\nPossibly because the network communication is lost.";
    const std::string finalLost = "Sorry, cannot complete task.\n\nPossibly because the network communication is lost.";
    struct Case {
        const char* what;
        std::string first;   // the reply to the header
        std::string second;  // after the name; empty: none
        std::string errorText;
    };
    const std::vector<Case> cases = {
        {"same version, refused without reason", no(), "", older},
        {"a newer server", yes("", kNewer), "", older},
        {"a newer server refusing", no("", kNewer), "", older},
        {"an older server", no("", kOlder), "", outdated},
        {"a reason of the server's", no("No such server."), "", "No such server."},
        {"lost before the first reply", "", "", firstLost},
        {"lost within the first reply", le32(kOwnVersion), "", firstLost},
        {"not found", yes(), no(), "Sorry, cannot find 'carol' at the moment."},
        {"not found, with a reason", yes(), no("carol is not online."), "carol is not online."},
        {"lost before the address", yes(), "-", finalLost},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1002, 5)).send(c.first);
        if (!c.second.empty()) {
            peer.expect("carol");
            if (c.second != "-") peer.send(c.second);
        }
        peer.hangUp();
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        EXPECT_EQ(protocol.Locate(socket, "carol", 60000), 0u);
        EXPECT_EQ(protocol.errorText().c_str(), c.errorText);
        EXPECT_EQ(peer.finish(), "");
    }
    ClientProtocol protocol(m_context);
    TcpSocket unconnected;
    EXPECT_EQ(protocol.Locate(unconnected, "carol", 60000), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Cannot send data to the server.");
}

TEST_F(SessionTest, ChangePasswordSendsFourFieldsAndNamesEveryFailure) {
    const std::string payload = le32(3) + le32(3) + le32(3) + le32(3) + "bob" + "old" + "bob" + "new";
    struct Case {
        const char* what;
        std::string first;
        std::string second;  // "-": the payload goes and the connection ends
        uint32_t result;
        std::string errorText;
    };
    const std::vector<Case> cases = {
        {"changed", yes(), yes(), 1, ""},
        {"first reply lost", "", "", 0, "Sorry.  Network communication is lost."},
        {"refused, same version", no(), "", 0, "The server has refused the connection."},
        {"refused, other version", yes("", kOlder), "", 0, "The server does not support password change."},
        {"refused with a reason", no("Accounts are locked."), "", 0, "Accounts are locked."},
        {"final NO", yes(), no(), 0, "Sorry, cannot complete task.\n\nPossible reason: invalid password."},
        {"final NO with a reason", yes(), no("Too short."), 0, "Too short."},
        {"final reply lost", yes(), "-", 0,
         "Sorry, cannot complete task.\n\nPossible reason: the network communication is lost."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1013, 28)).send(c.first);
        if (!c.second.empty()) {
            peer.expect(payload);
            if (c.second != "-") peer.send(c.second);
        }
        if (c.result == 0) peer.hangUp();
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        EXPECT_EQ(protocol.ChangePassword(socket, "bob", "old", "bob", "new"), c.result);
        EXPECT_EQ(protocol.errorText().c_str(), c.errorText);
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
    }
    ClientProtocol protocol(m_context);
    TcpSocket unconnected;
    EXPECT_EQ(protocol.ChangePassword(unconnected, "bob", "old", "bob", "new"), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "");
    {
        SCOPED_TRACE("the header cannot go out");
        ScriptedPeer peer;
        peer.hangUp();
        TcpSocket socket;
        connect(peer, socket);
        socket.Cancel();
        EXPECT_EQ(protocol.ChangePassword(socket, "bob", "old", "bob", "new"), 0u);
        EXPECT_STREQ(protocol.errorText().c_str(),
                     "Sorry, cannot complete task.\n\nPossible reason: server is not responding.");
        EXPECT_EQ(peer.finish(), "");
    }
    {
        SCOPED_TRACE("a payload beyond the bound is not built");
        ScriptedPeer peer;
        peer.hangUp();
        TcpSocket socket;
        connect(peer, socket);
        const TextString huge(nullptr, 17u * 1024 * 1024);
        EXPECT_EQ(protocol.ChangePassword(socket, "bob", "old", "bob", huge), 0u);
        EXPECT_STREQ(protocol.errorText().c_str(), "Sorry, cannot complete task.\n\nPossible reason: out of memory.");
        EXPECT_EQ(peer.finish(), "");
    }
}

TEST_F(SessionTest, QueryStatusAppliesPresenceAndMarksFailuresOffline) {
    const std::string payload = le32(5) + le32(11) + le32(3) + le32(4) + le32(4) + "alice" + "example.org" + "bob" +
                                "home" + le32(1);
    const std::string answer = le32(8) + le32(77) + "10.0.0.8" + le32(1);
    {
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1017, 47)).send(yes("ignored")).expect(payload).send(yes(answer));
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        TextString address;
        uint32_t status = 0;
        EXPECT_EQ(protocol.QueryStatus(address, status, socket, "alice", "example.org", "bob", "home", 1), 1u);
        EXPECT_STREQ(address.c_str(), "10.0.0.8");
        EXPECT_EQ(status, 1u);
        EXPECT_EQ(presence(), "1 10.0.0.8");
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
    }
    struct Case {
        const char* what;
        std::string first;
        std::string second;  // "-": the payload goes and the connection ends
        std::string errorText;
    };
    const std::vector<Case> cases = {
        {"refused", no(), "", "Server has refused this request."},
        {"refused with a reason", yes(), no("Not your contact."), "Not your contact."},
        {"another version", yes("", kNewer), "", "Server has refused this request."},
        {"lost", yes(), "-", "Connection lost unexpectedly."},
        {"an answer too short for its address", yes(), yes(le32(9) + le32(0) + "10.0.0.8"), "Connection lost unexpectedly."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(m_list.setOnline(m_alice, 1, "10.0.0.8"), 1u);
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1017, 47)).send(c.first);
        if (!c.second.empty()) {
            peer.expect(payload);
            if (c.second != "-") peer.send(c.second);
        }
        peer.hangUp();
        ClientProtocol protocol(m_context);
        TcpSocket socket;
        connect(peer, socket);
        TextString address = "stale";
        uint32_t status = 5;
        EXPECT_EQ(protocol.QueryStatus(address, status, socket, "alice", "example.org", "bob", "home", 1), 0u);
        EXPECT_EQ(protocol.errorText().c_str(), c.errorText);
        EXPECT_STREQ(address.c_str(), "");
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(presence(), "0 10.0.0.8");
        EXPECT_EQ(peer.finish(), "");
    }
    ClientProtocol protocol(m_context);
    TcpSocket unconnected;
    TextString address;
    uint32_t status = 0;
    const TextString huge(nullptr, 17u * 1024 * 1024);
    EXPECT_EQ(protocol.QueryStatus(address, status, unconnected, "alice", "example.org", huge, "home", 1), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Not enough memory to continue.");
    EXPECT_EQ(protocol.QueryStatus(address, status, unconnected, "alice", "example.org", "bob", "home", 1), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Connection lost unexpectedly.");
}

} // namespace
} // namespace vp
