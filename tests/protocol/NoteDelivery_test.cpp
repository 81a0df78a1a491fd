// The sender's side of a note: exchanges with a scripted receiver over
// loopback, receivers found through the server started for the run, Stop,
// and where the name field sends a note.

#include "notes/FakeNoteView.h"
#include "notes/NoteRecord.h"
#include "protocol/NoteSending.h"
#include "protocol/ProtocolFixture.h"
#include "settings/NoteOptions.h"
#include "support/ClientCalls.h"

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>

namespace vp {
namespace {

using namespace test;

// A note window whose Stop runs from another thread once its status line
// begins with stopAt, and cancels the socket it was handed. (Stop during a
// file is tested end to end.)
class StoppingView final : public QuietNoteView {
public:
    std::string statusLine, stopAt = "-", last;
    uint32_t attachmentShown = 0;
    TcpSocket* socket = nullptr;
    void setStatusText(const TextString& text) override {
        statusLine = text.c_str();
        if (statusLine.starts_with(stopAt)) std::thread([this] { socket->Cancel(); }).join();
    }
    TextString statusText() override { return statusLine.c_str(); }
    uint32_t hasAttachment() override { return attachmentShown; }
    void networkOperationStarted(TcpSocket& s) override {
        socket = &s;
        last = "started";
    }
    void networkOperationEnded() override { last = "ended"; }
};

class NoteDeliveryTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        m_note.setWindow(&m_view);
        m_context.noteOptions = &m_noteOptions;
        m_context.serverPort = 1;  // nothing listens there
        m_general.SetString(GeneralOptions::kUserName, "ann");
        m_general.SetString(GeneralOptions::kServerName, "hub");
    }
    // The receiver takes the note's header and payload as long as it
    // answers YES (replies: to the header, the payload, the end block), and
    // then the end block; it hangs up where a reply is missing.
    void receive(ScriptedPeer& peer, std::vector<std::string> replies, std::string end = frame(kOwnVersion, 0, 0)) {
        EXPECT_EQ(m_note.BuildPayload("ann@hub"), 1u);
        const std::string payload(reinterpret_cast<const char*>(m_note.payload()), m_note.payloadSize());
        const std::string steps[] = {frame(kOwnVersion, 1003, uint32_t(payload.size())), payload, end};
        for (size_t i = 0; i < 3 && (i == 0 || (i <= replies.size() && replies[i - 1] == yes())); ++i) {
            peer.expect(steps[i]);
            if (i < replies.size()) peer.send(replies[i]);
        }
        if (replies.size() < 3) peer.hangUp();
        peer.start();
        m_context.peerPort = peer.port();
    }
    uint32_t send() {
        ClientProtocol protocol(m_context);
        const uint32_t result = protocol.SendNote("127.0.0.1", "ann@hub", m_note);
        m_errorText = protocol.errorText().c_str();
        return result;
    }
    platform::MemoryRegistry m_noteRegistry;
    NoteOptions m_noteOptions{m_noteRegistry};
    StoppingView m_view;
    NoteRecord m_note{"127.0.0.1"};
};

// A dotted address: straight to the receiver, no server asked.
TEST_F(NoteDeliveryTest, ExchangesWithTheReceiver) {
    const std::tuple<std::vector<std::string>, uint32_t, std::string> rows[] = {
        {{yes(), yes(), yes()}, 1, ""},
        {{no()}, 0, "Sorry.  Cannot deliver this note.\n\nThis person is using an older copy of Vellumpost program."},
        {{yes(), no("Not authorized.")}, 0, "Not authorized."},
        {{}, 0, "Sorry, cannot deliver this note.\n\nPossibly because the network communication is lost."},
        {{yes()}, 0, "Sorry, cannot deliver this note.\n\nCannot reach the remote computer."},
        {{yes(), yes()}, 1, "The network connection is lost."},  // delivered all the same
    };
    for (const auto& [replies, result, errorText] : rows) {
        ScriptedPeer peer;
        receive(peer, replies);
        EXPECT_EQ(send(), result) << errorText;
        EXPECT_EQ(m_errorText + peer.finish() + m_view.last, errorText + "ended");
    }
}

// Stop while the receiver, having taken the note, reads none of its file:
// the sender's buffers fill and the transfer still ends at once.
TEST_F(NoteDeliveryTest, StopEndsATransferWhoseReceiverStalled) {
    std::ofstream(m_dir.native() / "big.bin", std::ios::binary) << std::string(20000000, 'x');
    m_note.SetAttachment(m_dir.path("big.bin").c_str());
    m_view.attachmentShown = 1;
    ASSERT_EQ(m_note.BuildPayload("ann@hub"), 1u);
    const std::string payload(reinterpret_cast<const char*>(m_note.payload()), m_note.payloadSize());
    ScriptedPeer peer;
    peer.expect(frame(kOwnVersion, 1003, uint32_t(payload.size()))).send(yes()).expect(payload).send(yes());
    peer.pause(4000).hangUp().start();
    m_context.peerPort = peer.port();
    std::thread stop([this] {
        while (m_note.loadTransferring() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        m_note.storeTransferring(0);
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(send(), 0u);
    stop.join();
    EXPECT_EQ(m_errorText, "File transfer cancelled.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    peer.finish();
}

// The send work against the server: ann listens, carol is reachable only
// through the relay, bob is offline and the user answers the question to
// leave the note there (which keeps it for him), or presses Stop while the
// server is contacted.
TEST_F(NoteDeliveryTest, SendWorkFindsTheReceiverThroughTheServer) {
    const char* file = std::getenv("VP_TEST_SERVER_FILE");
    if (!file) GTEST_SKIP() << "VP_TEST_SERVER_FILE names no running server";
    ClientCalls server;
    std::ifstream(file) >> server.host >> server.port;
    m_context.serverPort = server.port;
    m_noteOptions.SetInt(NoteOptions::kPromptOnSent, 1);
    TcpSocket ann, carol;
    ASSERT_EQ(server.login(ann, "ann", "ann-pw") + server.login(carol, "carol", "carol-pw", false),
              "OK Hello from mainhub.OK Hello from mainhub.");
    // Under Wine the server may see another address than this machine's own,
    // and ann is then reachable only through the relay too.
    char local[64] = {};
    LocalAddress(local, sizeof local);
    const bool annDirect = local == server.host;
    const std::string at = "@" + server.host, asked = "', is not online.\nWould you like to try and leave this note "
                                                      "on their server?|";
    // Their sessions open no relay channel: the server cannot reach them.
    const std::string unreachable = "@mainhub cannot be reached at the moment. Please try again later.";
    const struct {
        std::string peer;
        uint32_t file, answer;
        std::string boxes, stopAt = "-";  // boxes joined by "|"
        uint32_t autoReply = 0;
    } rows[] = {
        {"ann" + at, 0, 0, annDirect ? "The note has been sent to 'ann' successfully." : "The user, 'ann" + asked +
                                                                                            "ann" + unreachable},
        {"carol" + at, 0, kIdCancel, "The user, 'carol" + asked + "carol" + unreachable},
        {"bob" + at, 0, kIdCancel, "The user, 'bob" + asked + "bob@mainhub is not online."},
        {"bob" + at, 1, kIdOk, "The user, 'bob" + asked + "Sorry.  This note has files attached and therefore cannot "
         "be stored on the server.\nPlease remove the attachments and try again.|bob@mainhub is not online."},
        {"bob" + at, 0, kIdOk, "The user, 'bob" + asked + "The note has been sent to 'bob' successfully."},
        {"bob" + at, 0, 0, "Network operation cancelled.", "Contacting"},
        // Nobody is asked about an automatic reply.
        {"bob" + at, 0, 0, "bob@mainhub is not online.", "-", 1},
        {"", 0, 0, "Cannot deliver this note; the name field is empty."},
    };
    for (const auto& row : rows) {
        m_note.peerName = row.peer.c_str();
        m_note.autoReply = row.autoReply;
        m_note.SetStatus("Ready");
        m_view.attachmentShown = row.file;
        m_view.stopAt = row.stopAt;
        const bool sent = row.boxes.find("The note has") != std::string::npos;
        const bool direct = row.boxes.starts_with("The note has");
        ScriptedPeer receiver;
        if (direct) receive(receiver, {yes(), yes(), yes()});
        if (row.answer) m_messages.script({row.answer});
        const size_t first = m_messages.boxCount();
        EXPECT_EQ(SendWork(m_note, m_context), sent ? 1u : 0u) << row.peer;
        std::string boxes = m_view.statusLine.substr(0, 6) + (direct ? receiver.finish() : "");
        for (size_t i = first; i < m_messages.boxCount(); ++i)
            boxes += (i > first ? "|" : "") + m_messages.boxes()[i].text;
        EXPECT_EQ(boxes, (sent ? "Sent: " : "Ready") + row.boxes) << row.peer;
    }
}

TEST(NoteDestination, NameFieldToServerAndUser) {
    const char* rows[][3] = {{"127.0.0.5", "127.0.0.5", "127.0.0.5"},
                             {"  ann   lee @ far   hub ", "far hub", "ann lee"},
                             {"a@b@c", "c", "a@b"},
                             {"ann", "hub", "ann"}};
    for (const auto& row : rows) {
        const NoteDestination to = resolveDestination(row[0], "hub");
        EXPECT_EQ(std::string(to.host.c_str()) + "|" + to.peerName.c_str(), std::string(row[1]) + "|" + row[2]);
    }
}

} // namespace
} // namespace vp
