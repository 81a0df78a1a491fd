#include "protocol/ProtocolFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using namespace test;

constexpr uint32_t kNewer = 0x0014FFEB;  // 1.4.0
constexpr uint32_t kOlder = 0x0012FFED;  // 1.2.0

// A request in two steps: the server's reply to the header, its reply after
// the payload ("": none, the payload is not expected; "-": the payload goes
// and the connection ends), and the text the client keeps when it fails
// (none when it succeeds).
struct TwoStepCase {
    const char* what;
    std::string first;
    std::string second;
    std::string errorText;
};

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

    uint32_t login(ScriptedPeer& peer, TextString& result) {
        return play(peer, [&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.Login(result, socket, "server.example", "bob", "secret");
        });
    }

    // The server's side of a request in two steps: the header, the first
    // reply, and, when second is given, the payload and then second ("-":
    // the connection just ends). A failing exchange ends with the server
    // hanging up.
    static void script(ScriptedPeer& peer, const std::string& header, const std::string& first,
                       const std::string& payload, const std::string& second, bool hangUp = true) {
        peer.expect(header).send(first);
        if (!second.empty()) peer.expect(payload);
        if (!second.empty() && second != "-") peer.send(second);
        if (hangUp) peer.hangUp();
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
}

TEST_F(SessionTest, LoginAsksForTheRelayOnlyWhenTheServerCannotReachTheClient) {
    const std::string elsewhere = "203.0.113.9";
    struct Case {
        const char* what;
        std::vector<std::string> replies;  // the payload goes after the second
        uint32_t listening;
        uint32_t openResult;
        uint32_t result;
        const char* text;    // the result, and the error text of a failure
        const char* opened;  // the relay channel asked for
    };
    const std::vector<Case> cases = {
        {"reachable", {yes("first data is ignored"), yes(m_localAddress), yes("Welcome, bob")}, 1, 1, 1,
         "Welcome, bob", ""},
        // Another address than this machine's, or no peer listener: the
        // ticket goes to the relay channel.
        {"address differs", {yes(), yes(elsewhere), yes(std::string("T\0K", 3)), yes("Welcome")}, 1, 1, 1, "Welcome",
         "server.example T"},
        {"no peer listener", {yes(), yes(m_localAddress), yes("T"), yes("Welcome")}, 0, 1, 1, "Welcome",
         "server.example T"},
        {"refused with a reason", {no("Unknown user name.")}, 1, 1, 0, "Unknown user name.", ""},
        {"refused without one", {no()}, 1, 1, 0, "", ""},
        {"refused on the second reply", {yes(), no("Server full.")}, 1, 1, 0, "Server full.", ""},
        {"an empty ticket", {yes(), yes(elsewhere), yes()}, 1, 1, 0, "", ""},
        {"the relay channel cannot open", {yes(), yes(elsewhere), yes("T"), yes("Welcome")}, 1, 0, 0, "",
         "server.example T"},
        {"the final reply refuses", {yes(), yes(elsewhere), yes("T"), no("Try later.")}, 1, 1, 0, "Try later.",
         "server.example T"},
        {"lost before the final reply", {yes(), yes(elsewhere), yes("T")}, 1, 1, 0, "", "server.example T"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_listener.running = c.listening;
        m_listener.openResult = c.openResult;
        m_listener.opened.clear();
        ScriptedPeer peer;
        peer.expect(frame(kOwnVersion, 1000, 25));
        for (size_t i = 0; i < c.replies.size(); ++i) {
            if (i == 2) peer.expect(loginPayload(c.listening && c.replies[1] == yes(m_localAddress) ? 0 : 1));
            peer.send(c.replies[i]);
        }
        if (c.result == 0) peer.hangUp();
        TextString result = "stale";
        EXPECT_EQ(login(peer, result), c.result);
        EXPECT_STREQ(result.c_str(), c.text);
        if (c.result == 0) {
            EXPECT_EQ(m_errorText, c.text);
        }
        EXPECT_EQ(m_listener.opened, *c.opened ? std::vector<std::string>{c.opened} : std::vector<std::string>{});
    }
}

TEST_F(SessionTest, LocateFindsAddressesAndExplainsRefusals) {
    auto locate = [this](ScriptedPeer& peer) {
        return play(peer, [](ClientProtocol& protocol, TcpSocket& socket) { return protocol.Locate(socket, "carol", 60000); });
    };
    const std::string header = frame(kOwnVersion, 1002, 5);
    m_general.SetString(GeneralOptions::kHomeURL, "http://home.example/");
    const std::string older =
        "Sorry, cannot deliver this note.\nIt appears you are running an incompatible (older?) version.\n\n"
        "Go to 'http://home.example/' to download the latest version.";
    const std::string outdated = "Sorry, cannot deliver this note.\nThe receiver is running an out-dated "
                                 "version.\n\nPlease ask them to upgrade their Vellumpost.";
    const std::string firstLost =
        "Sorry, cannot complete this task.\n\nPossibly because the network communication is lost.";
    const std::string finalLost = "Sorry, cannot complete task.\n\nPossibly because the network communication is lost.";
    const std::vector<TwoStepCase> cases = {
        {"found", yes(), yes("0.0.0.0"), ""},
        {"same version, refused without reason", no(), "", older},
        {"a newer server", yes("", kNewer), "", older},
        {"an older server", no("", kOlder), "", outdated},
        {"a reason of the server's", no("No such server."), "", "No such server."},
        {"lost before the first reply", "", "", firstLost},
        {"not found", yes(), no(), "Sorry, cannot find 'carol' at the moment."},
        {"not found, with a reason", yes(), no("carol is not online."), "carol is not online."},
        {"lost before the address", yes(), "-", finalLost},
    };
    for (const TwoStepCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        script(peer, header, c.first, "carol", c.second, !c.errorText.empty());
        EXPECT_EQ(locate(peer), c.errorText.empty() ? 1u : 0u);
        EXPECT_EQ(m_errorText, c.errorText);
        if (c.errorText.empty()) {
            EXPECT_EQ(m_replyText, "0.0.0.0");
        }
    }
    ClientProtocol protocol(m_context);
    TcpSocket unconnected;
    EXPECT_EQ(protocol.Locate(unconnected, "carol", 60000), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Cannot send data to the server.");
}

TEST_F(SessionTest, ChangePasswordSendsFourFieldsAndNamesEveryFailure) {
    TextString newPassword = "new";
    auto change = [&](ScriptedPeer& peer, bool cancelFirst = false) {
        return play(peer, [&](ClientProtocol& protocol, TcpSocket& socket) {
            if (cancelFirst) socket.Cancel();
            return protocol.ChangePassword(socket, "bob", "old", "bob", newPassword);
        });
    };
    const std::string header = frame(kOwnVersion, 1013, 28);
    const std::string payload = le32(3) + le32(3) + le32(3) + le32(3) + "bob" + "old" + "bob" + "new";
    const std::vector<TwoStepCase> cases = {
        {"changed", yes(), yes(), ""},
        {"first reply lost", "", "", "Sorry.  Network communication is lost."},
        {"refused, same version", no(), "", "The server has refused the connection."},
        {"refused, other version", yes("", kOlder), "", "The server does not support password change."},
        {"refused with a reason", no("Accounts are locked."), "", "Accounts are locked."},
        {"final NO", yes(), no(), "Sorry, cannot complete task.\n\nPossible reason: invalid password."},
        {"final NO with a reason", yes(), no("Too short."), "Too short."},
        {"final reply lost", yes(), "-",
         "Sorry, cannot complete task.\n\nPossible reason: the network communication is lost."},
    };
    for (const TwoStepCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer;
        script(peer, header, c.first, payload, c.second, !c.errorText.empty());
        EXPECT_EQ(change(peer), c.errorText.empty() ? 1u : 0u);
        EXPECT_EQ(m_errorText, c.errorText);
    }
    {
        ScriptedPeer peer;
        peer.hangUp();
        EXPECT_EQ(change(peer, true), 0u) << "the header cannot go out";
        EXPECT_EQ(m_errorText, "Sorry, cannot complete task.\n\nPossible reason: server is not responding.");
    }
    {
        ScriptedPeer peer;
        peer.hangUp();
        newPassword = TextString(nullptr, 17u * 1024 * 1024);
        EXPECT_EQ(change(peer), 0u) << "a payload beyond the bound is not built";
        EXPECT_EQ(m_errorText, "Sorry, cannot complete task.\n\nPossible reason: out of memory.");
    }
    ClientProtocol protocol(m_context);
    TcpSocket unconnected;
    EXPECT_EQ(protocol.ChangePassword(unconnected, "bob", "old", "bob", "new"), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "");
}

TEST_F(SessionTest, QueryStatusAppliesPresenceAndMarksFailuresOffline) {
    TextString address;
    uint32_t status = 0;
    TextString ownUser = "bob";
    auto query = [&](ScriptedPeer& peer) {
        return play(peer, [&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.QueryStatus(address, status, socket, "alice", "example.org", ownUser, "home", 1);
        });
    };
    const std::string header = frame(kOwnVersion, 1017, 47);
    const std::string payload = le32(5) + le32(11) + le32(3) + le32(4) + le32(4) + "alice" + "example.org" + "bob" +
                                "home" + le32(1);
    {
        ScriptedPeer peer;
        script(peer, header, yes("ignored"), payload, yes(le32(8) + le32(77) + "10.0.0.8" + le32(1)), false);
        EXPECT_EQ(query(peer), 1u);
        EXPECT_STREQ(address.c_str(), "10.0.0.8");
        EXPECT_EQ(status, 1u);
        EXPECT_EQ(presence(), "1 10.0.0.8");
    }
    const std::vector<TwoStepCase> cases = {
        {"refused", no(), "", "Server has refused this request."},
        {"refused with a reason", yes(), no("Not your contact."), "Not your contact."},
        {"lost", yes(), "-", "Connection lost unexpectedly."},
        {"an answer too short for its address", yes(), yes(le32(9) + le32(0) + "10.0.0.8"), "Connection lost unexpectedly."},
    };
    for (const TwoStepCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(m_list.setOnline(m_alice, 1, "10.0.0.8"), 1u);
        ScriptedPeer peer;
        script(peer, header, c.first, payload, c.second);
        address = "stale";
        status = 5;
        EXPECT_EQ(query(peer), 0u);
        EXPECT_EQ(m_errorText, c.errorText);
        EXPECT_STREQ(address.c_str(), "");
        EXPECT_EQ(status, 0u);
        EXPECT_EQ(presence(), "0 10.0.0.8");
    }
    ClientProtocol protocol(m_context);
    TcpSocket unconnected;
    const TextString huge(nullptr, 17u * 1024 * 1024);
    EXPECT_EQ(protocol.QueryStatus(address, status, unconnected, "alice", "example.org", huge, "home", 1), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Not enough memory to continue.");
    EXPECT_EQ(protocol.QueryStatus(address, status, unconnected, "alice", "example.org", "bob", "home", 1), 0u);
    EXPECT_STREQ(protocol.errorText().c_str(), "Connection lost unexpectedly.");
}

} // namespace
} // namespace vp
