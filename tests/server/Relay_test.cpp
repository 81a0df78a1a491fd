#include "ServerFixture.h"

#include <thread>

namespace vp::test {
namespace {

constexpr char kTicketHeaderHex[] = "EC FF 13 00 F3 03 00 00 20 00 00 00"; // {1.3.0, 1011, 32}

// count bytes that tell their offset and the side that sent them apart.
std::string pattern(size_t count, uint8_t side) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + side) ^ (i >> 11));
    return bytes;
}

class RelayTest : public ServerTest {
protected:
    // The receiver comes back with its ticket as the client's relay thread
    // does: YES to the header, the ticket, the final YES.
    std::string answerRelay(TcpSocket& socket, const std::string& ticket) {
        if (socket.Connect(m_host.c_str(), m_port) != 1) return "no connection";
        return play(socket, {{Step::Send, frame(kOwnVersion, 1012, static_cast<uint32_t>(ticket.size()))},
                             {Step::Expect, yes()}, {Step::Send, ticket}, {Step::Expect, yes()}});
    }
    // A sender's request for receiver, up to the YES to its header.
    std::string askForRelay(TcpSocket& sender, const std::string& receiver) {
        if (sender.Connect(m_host.c_str(), m_port) != 1) return "no connection";
        return play(sender, {{Step::Send, frame(kOwnVersion, 1011, static_cast<uint32_t>(receiver.size()))},
                             {Step::Expect, yes()}, {Step::Send, receiver}});
    }
    std::string openChannel(TcpSocket& channel, const std::string& loginTicket) {
        if (channel.Connect(m_host.c_str(), m_port) != 1) return "no connection";
        return play(channel, {{Step::Send, frame(kOwnVersion, 1009, 32)}, {Step::Expect, yes()},
                              {Step::Send, loginTicket}, {Step::Expect, yes()}});
    }
};

// A receiver behind a proxy gets the ticket over its channel, one that
// takes connections on its peer port (a listener of the test's); either
// way a megabyte then goes each way at once, and the sender's close ends it.
TEST_F(RelayTest, ASenderAndAReceiverAreJoinedAndAMegabyteGoesEachWay) {
    TcpSocket peerPort;
    ASSERT_EQ(peerPort.Bind(0, m_host.c_str()), 1u);
    ASSERT_EQ(peerPort.Listen(), 1u);
    m_config.peerPort = peerPort.LocalPort();
    startServer();
    for (const bool behindProxy : {true, false}) {
        SCOPED_TRACE(behindProxy ? "over the relay channel" : "on the peer port");
        TcpSocket session, channel, notice, sender, receiver;
        std::string loginTicket;
        ASSERT_EQ(login(session, "carol", "carol-pw", !behindProxy, &loginTicket), "OK Hello from mainhub.");
        if (behindProxy) {
            ASSERT_EQ(openChannel(channel, loginTicket), "");
        }
        ASSERT_EQ(askForRelay(sender, "carol@mainhub"), "");
        std::string ticket;
        if (behindProxy) {
            // The ticket follows its header with no YES between.
            const std::string block = receive(channel, 44);
            ASSERT_EQ(hex(block.substr(0, 12)), kTicketHeaderHex);
            ticket = block.substr(12);
        } else {
            notice = peerPort.Accept();
            ASSERT_EQ(hex(receive(notice, 12)), kTicketHeaderHex);
            ASSERT_TRUE(sendBytes(notice, yes()));
            ticket = receive(notice, 32);
        }
        ASSERT_NE(ticket, loginTicket);
        ASSERT_EQ(answerRelay(receiver, ticket), "");
        ASSERT_EQ(play(sender, {{Step::Expect, yes()}}), "");

        const std::string toReceiver = pattern(1 << 20, 1), toSender = pattern(1 << 20, 2);
        std::thread senderWrites([&] { sendBytes(sender, toReceiver); });
        std::thread receiverWrites([&] { sendBytes(receiver, toSender); });
        EXPECT_TRUE(receive(receiver, toReceiver.size()) == toReceiver);
        EXPECT_TRUE(receive(sender, toSender.size()) == toSender);
        senderWrites.join();
        receiverWrites.join();
        // The ticket answered its relay once.
        TcpSocket late;
        ASSERT_EQ(late.Connect(m_host.c_str(), m_port), 1u);
        EXPECT_EQ(play(late, {{Step::Send, frame(kOwnVersion, 1012, 32) + ticket},
                              {Step::Expect, yes() + no("This relay ticket answers no relay waiting here.")}}),
                  "");
        sender.Close();
        EXPECT_TRUE(closedByPeer(receiver));
        if (!behindProxy) {
            EXPECT_TRUE(closedByPeer(notice));
        }
    }
}

// Whichever side closes right after its last bytes, those bytes are still
// on their way through the server: the other side gets every one of them,
// and then the relay closes it.
TEST_F(RelayTest, BytesSentJustBeforeASideClosesAllArrive) {
    TcpSocket peerPort, session;
    ASSERT_EQ(peerPort.Bind(0, m_host.c_str()), 1u);
    ASSERT_EQ(peerPort.Listen(), 1u);
    m_config.peerPort = peerPort.LocalPort();
    // The close ends the relay, not its silence afterwards.
    m_config.idleTimeout = std::chrono::seconds(60);
    startServer();
    ASSERT_EQ(login(session, "carol", "carol-pw"), "OK Hello from mainhub.");
    for (const bool senderCloses : {true, false}) {
        SCOPED_TRACE(senderCloses ? "the sender closes" : "the receiver closes");
        TcpSocket notice, sender, receiver;
        ASSERT_EQ(askForRelay(sender, "carol@mainhub"), "");
        notice = peerPort.Accept();
        ASSERT_EQ(hex(receive(notice, 12)), kTicketHeaderHex);
        ASSERT_TRUE(sendBytes(notice, yes()));
        ASSERT_EQ(answerRelay(receiver, receive(notice, 32)), "");
        ASSERT_EQ(play(sender, {{Step::Expect, yes()}}), "");

        TcpSocket& closing = senderCloses ? sender : receiver;
        TcpSocket& staying = senderCloses ? receiver : sender;
        const std::string bytes = pattern(4 << 20, 3);
        std::thread writes([&] {
            sendBytes(closing, bytes);
            closing.Close();
        });
        EXPECT_TRUE(receive(staying, bytes.size()) == bytes);
        writes.join();
        EXPECT_TRUE(closedByPeer(staying));
    }
}

// Each row: who is asked for, and what the sender hears after its header's
// YES and the name.
TEST_F(RelayTest, ARelayNobodyCanAnswerEndsWithAReasonForTheSender) {
    m_config.relayTimeout = std::chrono::seconds(1);
    startServer();
    TcpSocket carol, bob, channel;
    std::string loginTicket;
    ASSERT_EQ(login(carol, "carol", "carol-pw", false, &loginTicket), "OK Hello from mainhub.");
    ASSERT_EQ(openChannel(channel, loginTicket), "");
    // The fixture's peer port answers the ticket with a YES, as a client
    // that could not start answers with a NO.
    ASSERT_EQ(login(bob, "bob", "bob-pw"), "OK Hello from mainhub.");
    const struct {
        const char* receiver;
        std::string heard;
    } rows[] = {
        {"dave", "No user named dave@mainhub is registered here."},
        {"ann@mainhub", "ann@mainhub is not online."},
        {"carol", "carol@mainhub did not answer."},
        {"bob", "bob@mainhub cannot be reached at the moment. Please try again later."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.receiver);
        TcpSocket sender;
        ASSERT_EQ(askForRelay(sender, row.receiver), "");
        EXPECT_EQ(play(sender, {{Step::Expect, no(row.heard)}}), "");
    }
    // The channel took the unanswered ticket, and after the client's NO
    // for a relay it could not start it still carries presence.
    EXPECT_EQ(hex(receive(channel, 44).substr(0, 12)), kTicketHeaderHex);
    ASSERT_TRUE(sendBytes(channel, no()));
    ASSERT_EQ(queryStatus("ann", "carol"), "0.0.0.0 0");
    TcpSocket ann, impostor;
    ASSERT_EQ(login(ann, "ann", "ann-pw"), "OK Hello from mainhub.");
    const std::string notice = contactStatus("ann", m_host, 1);
    EXPECT_EQ(receive(channel, notice.size()), notice);
    // A made-up ticket answers nobody's relay.
    ASSERT_EQ(impostor.Connect(m_host.c_str(), m_port), 1u);
    EXPECT_EQ(play(impostor, {{Step::Send, frame(kOwnVersion, 1012, 32) + std::string(32, 'a')},
                              {Step::Expect, yes() + no("This relay ticket answers no relay waiting here.")}}),
              "");
}

} // namespace
} // namespace vp::test
