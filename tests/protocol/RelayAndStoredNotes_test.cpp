// The relay and the stored notes on the client's side, against a scripted
// server: the exchanges with every text, the relay channel, the relay
// thread, and the walk of a downloaded block. (Against the real server they
// run in the end-to-end tests.)

#include "protocol/ProtocolFixture.h"
#include "protocol/RelayAnswers.h"
#include "support/Eventually.h"
#include "wire/StoredNotePayloads.h"

#include <functional>
#include <utility>
#include <vector>

namespace vp {
namespace {

using namespace test;

constexpr uint32_t kNewer = 0x0014FFEB;  // 1.4.0
const std::string kTicket = "0123456789abcdef0123456789abcdef";
const std::string kLost = "Sorry.  Network communication is lost.";
const std::string kRefused = "The server has refused the connection.";

std::string request(uint32_t code, const std::string& payload) {
    return frame(kOwnVersion, code, static_cast<uint32_t>(payload.size())) + payload;
}

// Each step: what the client sends, then what the server answers (if
// anything); the server hangs up after the last.
using Steps = std::vector<std::pair<std::string, std::string>>;

void script(ScriptedPeer& peer, const Steps& steps) {
    for (const auto& [client, server] : steps) {
        peer.expect(client);
        if (!server.empty()) peer.send(server);
    }
    peer.hangUp();
}

TEST_F(ProtocolTest, RelayAndStoredNoteExchanges) {
    std::string downloaded;
    using Operation = std::function<uint32_t(ClientProtocol&, TcpSocket&)>;
    const Operation relay = [](ClientProtocol& p, TcpSocket& s) { return p.RequestRelay(s, "ann", 5000, 100); };
    const Operation answer = [](ClientProtocol& p, TcpSocket& s) { return p.ProxyAnswer(s, kTicket.c_str()); };
    const std::string block = le32(5) + "note1";
    const auto leave = [&](const char* to) {
        return [&block, to](ClientProtocol& p, TcpSocket& s) {
            return p.LeaveNote(s, to, reinterpret_cast<const uint8_t*>(block.data()), 9);
        };
    };
    const Operation download = [&](ClientProtocol& p, TcpSocket& s) {
        ByteBuffer notes;
        const uint32_t result = p.NoteDownLoad(s, "bob", "pw", notes);
        downloaded = std::string(reinterpret_cast<const char*>(notes.data()), notes.size());
        return result;
    };
    const std::string relayHeader = frame(kOwnVersion, 1011, 3), answerHeader = frame(kOwnVersion, 1012, 32);
    const std::string abc = request(1014, le32(3) + le32(9) + "abc");  // 11 bytes of payload
    const std::string leaveHeader = abc.substr(0, 12), leavePayload = abc.substr(12);
    const std::string withServer = le32(3) + le32(9) + "abc" + std::string(5, '\0');  // 16 bytes
    const std::string asked = request(1015, le32(3) + le32(2) + "bobpw");
    const std::string notes = le32(5) + "note1" + le32(3) + "two";
    const std::string tooLarge = "Sorry. There is not enough memory to complete this operation.";
    const struct {
        const char* what;
        Operation operation;
        Steps steps;
        uint32_t result;
        std::string text;  // errorText, then "|" and the notes downloaded
    } rows[] = {
        {"relay joined", relay, {{relayHeader, yes()}, {"ann", yes()}}, 1, ""},
        {"relay declined", relay, {{relayHeader, no("ann@mainhub is not online.")}}, 0, "ann@mainhub is not online."},
        {"relay refused", relay, {{relayHeader, no()}}, 0, kRefused},
        {"relay of a newer server", relay, {{relayHeader, no("", kNewer)}}, 0,
         "The server does not support proxy connection."},
        {"relay unanswered", relay, {{relayHeader, yes()}, {"ann", ""}}, 0, kLost},
        {"answer accepted", answer, {{answerHeader, yes()}, {kTicket, yes()}}, 1, ""},
        {"answer lost", answer, {{answerHeader, ""}}, 0,
         "ProxyAnswer request unsuccessful\n\nPossibly because the network communication is lost."},
        {"ticket refused, reason dropped", answer, {{answerHeader, yes()}, {kTicket, no("unknown ticket")}}, 0,
         "ProxyAnswer request to the server at was unsuccessful."},
        {"leave for abc", leave("abc"), {{leaveHeader, yes()}, {leavePayload, yes()}, {block, yes()}}, 1, ""},
        {"leave for abc@defg", leave("abc@defg"),
         {{frame(kOwnVersion, 1014, 16), yes()}, {withServer, yes()}, {block, yes()}}, 1, ""},
        {"leave over quota", leave("abc"), {{leaveHeader, yes()}, {leavePayload, no("No room.")}}, 0, "No room."},
        {"leave refused by a newer server", leave("abc"), {{leaveHeader, no("", kNewer)}}, 0,
         "The server does not support this operation."},
        {"leave unconfirmed", leave("abc"), {{leaveHeader, yes()}, {leavePayload, yes()}, {block, ""}}, 0,
         "Sorry.  Network communication is unexpectedly lost."},
        {"download of two notes", download,
         {{asked.substr(0, 12), yes()}, {asked.substr(12), frame(kOwnVersion, 1, 16)}, {yes(), notes}, {yes(), yes()}},
         1, "|" + notes},
        {"download announcing nothing", download,
         {{asked.substr(0, 12), yes()}, {asked.substr(12), frame(kOwnVersion, 1, 0)}, {no(), yes()}}, 1, "|"},
        {"download with no notes", download, {{asked.substr(0, 12), yes()}, {asked.substr(12), no()}}, 0, kRefused + "|"},
        {"download announced by a newer server", download,
         {{asked.substr(0, 12), yes()}, {asked.substr(12), frame(kNewer, 1, 16)}}, 0, kLost + "|"},
        {"download cut in the middle", download,
         {{asked.substr(0, 12), yes()}, {asked.substr(12), frame(kOwnVersion, 1, 16)}, {yes(), notes.substr(0, 7)}},
         0, kLost + "|"},
        {"download not confirmed", download,
         {{asked.substr(0, 12), yes()}, {asked.substr(12), frame(kOwnVersion, 1, 16)}, {yes(), notes}, {yes(), no()}},
         0, kRefused + "|"},
        {"download past the wire's bound", download,
         {{asked.substr(0, 12), yes()}, {asked.substr(12), frame(kOwnVersion, 1, (16u << 20) + 1)}, {no(), ""}}, 0,
         tooLarge + "|"},
    };
    for (const auto& row : rows) {
        ScriptedPeer peer;
        script(peer, row.steps);
        downloaded.clear();
        EXPECT_EQ(play(peer, row.operation), row.result) << row.what;
        EXPECT_EQ(m_errorText + (row.operation.target_type() == download.target_type() ? "|" + downloaded : ""),
                  row.text)
            << row.what;
    }
}

// Blocks the server sends over the relay channel, each read whole; the
// results of ChannelMessage until it gives 0.
TEST_F(ProtocolTest, TheRelayChannelServesPresenceAndRelayRequests) {
    const std::string server = "example.org", address = "10.1.2.3";
    const std::string event = le32(5) + le32(static_cast<uint32_t>(server.size())) +
                              le32(static_cast<uint32_t>(address.size())) + le32(4) + "alice" + server + address +
                              le32(1);
    const struct {
        const char* what;
        std::string sent;
        Steps answered;
        std::string results;
    } rows[] = {
        {"a presence change, sent again after the YES", request(102, event), {{yes(), event}, {yes(), ""}}, "10"},
        {"an invalid version word: only it is taken", le32(0x12345678) + request(1005, "xy"), {}, "110"},
        {"a relay request that cannot start", request(1011, kTicket), {{no(), ""}}, "10"},
        {"a block longer than any", frame(kOwnVersion, 102, (16u << 20) + 1), {}, "0"},
    };
    for (const auto& row : rows) {
        ScriptedPeer peer;
        peer.send(row.sent);
        script(peer, row.answered);
        std::string results;
        play(peer, [&](ClientProtocol& protocol, TcpSocket& socket) {
            while (results.size() < 5 && (results += std::to_string(protocol.ChannelMessage(socket))).back() == '1') {
            }
            return 1u;
        });
        EXPECT_EQ(results, row.results) << row.what;
    }
    EXPECT_EQ(presence(), "1 10.1.2.3");
}

// A relay request on the channel: a relay thread comes back to the server
// the channel is connected to, at the server port, with the ticket, and
// serves the request the server then forwards. A job whose size word is
// not its own makes no connection at all.
TEST_F(ProtocolTest, ARelayThreadAnswersWithTheTicket) {
    ScriptedPeer relayed;
    relayed.expect(frame(kOwnVersion, 1012, 32)).send(yes()).expect(kTicket).send(yes());
    relayed.send(request(1005, "")).hangUp();  // forwarded: a request it does not know
    relayed.start();
    m_context.serverPort = relayed.port();
    RelayAnswers relays;
    m_context.relay = &relays;
    ScriptedPeer channel;
    channel.send(request(1011, kTicket)).hangUp();
    play(channel, [](ClientProtocol& protocol, TcpSocket& socket) { return protocol.ChannelMessage(socket); });
    EXPECT_EQ(relayed.finish(), "");
    EXPECT_TRUE(eventually([&] { return relays.running() == 0; }));

    TcpSocket listener;
    ASSERT_EQ(listener.Bind(0, "127.0.0.1") * listener.Listen(), 1u);
    m_context.serverPort = listener.LocalPort();
    RelayJob job;
    job.size = 19;
    job.serverAddress = "127.0.0.1";
    job.ticket = kTicket.c_str();
    // Had it connected, it would wait for the server's answer here.
    TcpSocket socket;
    RunRelayJob(job, m_context, socket);
    EXPECT_EQ(socket.IsConnected() + socket.LastError(), 0u);
}

TEST(StoredNoteRecords, TheWalkEndsWhereALengthPassesTheEnd) {
    const struct {
        std::string block, records;
    } rows[] = {
        {le32(5) + "note1" + le32(3) + "two", "note1|two|"},
        {le32(5) + "note1" + le32(4) + "two", "note1|"},
        {le32(0) + le32(2) + "ab" + "xyz", "|ab|"},
    };
    for (const auto& row : rows) {
        std::string records;
        for (const auto record : storedNoteRecords(reinterpret_cast<const uint8_t*>(row.block.data()),
                                                   static_cast<uint32_t>(row.block.size())))
            records += std::string(record.begin(), record.end()) + "|";
        EXPECT_EQ(records, row.records);
    }
}

} // namespace
} // namespace vp
