// Notes from one client core to another over loopback: each side has its
// own settings, desktop and NoteReceiver behind a peer listener, and sends
// with the note's send work. Straight to an address, and through the server
// started for the run, with an away receiver's automatic reply; and to and
// from a client core of the other build.

#include "protocol/NoteSending.h"
#include "protocol/ProtocolFixture.h"
#include "support/ClientCalls.h"
#include "support/Eventually.h"
#include "support/NoteClient.h"
#include "wire/StoredNotePayloads.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <vector>

namespace vp {
namespace {

using namespace test;
namespace fs = std::filesystem;

class NotesEndToEndTest : public ProtocolTest {
protected:
    // ann and bob on server (their own peer ports: bob's for ann's replies,
    // ann's at annAddress for bob's notes).
    void start(const char* server, const char* annAddress) {
        m_ann = std::make_unique<NoteClient>(m_dir.native() / "ann", m_dir.path("ann"), "ann", server, annAddress);
        m_bob = std::make_unique<NoteClient>(m_dir.native() / "bob", m_dir.path("bob"), "bob", server, "127.0.0.1");
        ASSERT_NE(m_ann->listener->port() * m_bob->listener->port(), 0);
        m_bob->context.peerPort = m_ann->listener->port();
        m_ann->context.peerPort = m_bob->listener->port();
    }
    void TearDown() override {
        m_ann.reset();
        m_bob.reset();
        ProtocolTest::TearDown();
    }
    // bob's note to `to` through his send work, with a file of size bytes
    // when size is above 0: the result, then the boxes both sides showed,
    // sorted.
    std::string send(const char* to, size_t size, const std::string& stopAt = "-") {
        NoteWindow view;
        NoteRecord note(to);
        view.note = &note;
        view.sending = true;
        view.stopAt = stopAt;
        note.setWindow(&view);
        note.content.assign(m_content.data(), static_cast<uint32_t>(m_content.size()));
        m_file.clear();
        if (size > 0) {
            for (size_t i = 0; i < size; ++i) m_file.push_back(char(i * 7 + i / 4099));
            std::ofstream(m_dir.native() / "sent.bin", std::ios::binary) << m_file;
            note.SetAttachment(m_dir.path("sent.bin").c_str());
        }
        const size_t first = m_messages.boxCount();
        const uint32_t result = SendWork(note, m_bob->context);
        m_sentStatus = statusHead(view.statusText().c_str());
        m_sentProgress = view.progress;
        // The receiver's box may come just after the sender's.
        eventually([&] { return m_messages.boxCount() >= first + (result ? 0 : m_failureBoxes); });
        std::vector<std::string> boxes;
        for (size_t i = first; i < m_messages.boxCount(); ++i) boxes.push_back(m_messages.boxes()[i].text);
        std::sort(boxes.begin(), boxes.end());
        std::string all = std::to_string(result);
        for (const std::string& box : boxes) all += "|" + box;
        return all;
    }
    // The count-th note on the desktop of ann (or another) once it has
    // settled: its status head, its file against the one sent, and how many
    // files the receive folder holds; its progress is kept.
    std::string arrived(size_t count, NoteClient* to = nullptr) {
        NoteClient& ann = to ? *to : *m_ann;
        if (!eventually([&] { return ann.settled(count) != nullptr; })) return "not settled";
        NoteWindow& view = *ann.views.back();
        NoteRecord& note = *ann.arrived.back();
        const std::string file = note.attachmentName.isEmpty() ? "none"
                                 : readBytes(ann.folder / note.attachmentName.c_str()) == m_file ? "same"
                                                                                                : "differs";
        m_receivedProgress = view.progress;
        const auto files = std::distance(fs::directory_iterator(ann.folder), fs::directory_iterator());
        return statusHead(view.statusText().c_str()) + "|" + file + "|" + std::to_string(files);
    }
    // The server started for the run, when there is one.
    static bool readServer(ClientCalls& server) {
        const char* file = std::getenv("VP_TEST_SERVER_FILE");
        return file && std::ifstream(file) >> server.host >> server.port;
    }
    // A session for client that lasts the test; a client that is not
    // reachable opens its relay channel.
    void logIn(const ClientCalls& server, NoteClient& client, const std::string& user) {
        client.context.serverPort = server.port;
        EXPECT_EQ(server.loginWith(m_sessions.emplace_back(), user.c_str(), (user + "-pw").c_str(), client),
                  "OK Hello from mainhub.");
    }
    static std::string statusHead(const std::string& status) { return status.substr(0, status.find(':')); }
    // A progress as pattern has it, where "*" stands for any percentage.
    static std::string like(const std::string& progress, const std::string& pattern) {
        return pattern.ends_with('*') ? progress.substr(0, pattern.size() - 1) + "*" : progress;
    }

    std::list<TcpSocket> m_sessions;
    std::unique_ptr<NoteClient> m_ann, m_bob;
    std::string m_content = "{\\rtf1 Hi}";
    // A failed note shows a box on either side, unless a relay thread
    // received it.
    size_t m_failureBoxes = 2;
    std::string m_file, m_sentStatus, m_sentProgress, m_receivedProgress;
};

// Straight to ann's address: a whole file, then Stop on either side in the
// middle of one (the partial file is removed, each side says why), and each
// time a plain note right after, which both sides take as usual.
TEST_F(NotesEndToEndTest, ANoteWithAFileStraightToTheReceiver) {
    start("", "127.0.0.2");
    NoteClient& ann = *m_ann;
    const std::string incomplete = "Did not receive this note completely.";
    // When the receiver stops, the sender's buffers cannot hold the rest of
    // the larger file, so its next block fails.
    const struct {
        size_t size;
        std::string senderStopAt, receiverStopAt, outcome, sent, sentProgress, received, receivedProgress;
    } rows[] = {
        {1000000, "-", "-", "1", "Sent", "Sending file (99% done", "Received|same|1", "Receiving file (100% done"},
        {20000000, "Sending file (1% done", "-", "0|" + incomplete + "|File transfer cancelled.", "",
         "Sending file (1% done", incomplete + "|none|1", "Receiving file (*"},
        {20000000, "-", "Receiving file (1% done",
         "0|" + incomplete + "|Sorry, cannot continue sending file(s) at this time.\nPlease try again later.", "",
         "Sending file (*", incomplete + "|none|1", "Receiving file (1% done"},
    };
    size_t count = 0;
    for (const auto& row : rows) {
        ann.stopAt = row.receiverStopAt;
        EXPECT_EQ(send("127.0.0.2", row.size, row.senderStopAt), row.outcome) << row.size;
        EXPECT_EQ(m_sentStatus + "|" + like(m_sentProgress, row.sentProgress), row.sent + "|" + row.sentProgress);
        EXPECT_EQ(arrived(++count), row.received);
        EXPECT_EQ(like(m_receivedProgress, row.receivedProgress), row.receivedProgress);
        ann.stopAt = "-";
        EXPECT_EQ(send("127.0.0.2", 0) + m_sentStatus, "1Sent");
        EXPECT_EQ(arrived(++count), "Received|none|1");
    }
}

// Through the server: bob's notes to ann by name, found with Locate. Away,
// ann answers with her automatic reply, which reaches bob's own receiver;
// bob, away too, does not answer a reply.
TEST_F(NotesEndToEndTest, ThroughTheServerWithTheAutomaticReply) {
    ClientCalls server;
    if (!readServer(server)) GTEST_SKIP() << "VP_TEST_SERVER_FILE names no running server";
    // Under Wine the server may see another address than the program's own:
    // both then count as behind a proxy and are reached through the relay.
    start(server.host.c_str(), server.host.c_str());
    NoteClient &ann = *m_ann, &bob = *m_bob;
    logIn(server, ann, "ann");
    logIn(server, bob, "bob");

    EXPECT_EQ(send("ann", 1000000) + m_sentStatus, "1Sent");
    EXPECT_EQ(arrived(1), "Received|same|1");
    ann.away.SetInt(AwayOptions::kAwayMode, 1);
    bob.away.SetInt(AwayOptions::kAwayMode, 1);
    EXPECT_EQ(send(("ann@" + server.host).c_str(), 0) + m_sentStatus, "1Sent");
    EXPECT_EQ(arrived(2), "Auto-replied|none|1");
    EXPECT_EQ(arrived(1, &bob), "Received (via auto-reply)|none|0");
    const NoteRecord& reply = *bob.arrived.back();
    EXPECT_EQ(std::string(reply.peerName.c_str()) + "|" + std::to_string(reply.autoReply), "ann@" + server.host + "|1");
    EXPECT_NE(std::string(reply.content.data(), reply.content.size()).find("Out to lunch"), std::string::npos);
    EXPECT_EQ(ann.count(), 2u);
}

// ann takes no connections: the server relays bob's notes to her, a file
// included, and her refusal back to bob unchanged.
TEST_F(NotesEndToEndTest, ThroughTheRelayToAReceiverBehindAProxy) {
    ClientCalls server;
    if (!readServer(server)) GTEST_SKIP() << "VP_TEST_SERVER_FILE names no running server";
    start(server.host.c_str(), server.host.c_str());
    NoteClient &ann = *m_ann, &bob = *m_bob;
    ann.listener->stop();
    ann.reachable = false;
    logIn(server, ann, "ann");
    logIn(server, bob, "bob");
    EXPECT_EQ(server.locate("ann"), "OK 0.0.0.0");
    EXPECT_EQ(send("ann", 1000000) + m_sentStatus, "1Sent");
    EXPECT_EQ(arrived(1), "Received|same|1");
    ann.general.SetInt(GeneralOptions::kEnablePrivacy, 1);
    m_failureBoxes = 1;
    EXPECT_EQ(send("ann", 0), "0|The receiver's authorization mode is on.  You will need to be on their contact list "
                              "to communicate with them.");
}

// carol is offline: bob leaves two notes on the server, which she downloads
// in order after her log-in, and which are gone from there afterwards.
TEST_F(NotesEndToEndTest, LeftOnTheServerAndDownloadedAfterTheNextLogIn) {
    ClientCalls server;
    if (!readServer(server)) GTEST_SKIP() << "VP_TEST_SERVER_FILE names no running server";
    start(server.host.c_str(), server.host.c_str());
    logIn(server, *m_bob, "bob");
    const std::string question = "1|The user, 'carol', is not online.\nWould you like to try and leave this note on "
                                 "their server?";
    for (const char* text : {"{\\rtf1 first}", "{\\rtf1 second}"}) {
        m_content = text;
        m_messages.script({kIdOk});
        EXPECT_EQ(send("carol", 0) + m_sentStatus, question + "Sent");
    }
    NoteClient carol(m_dir.native() / "carol", m_dir.path("carol"), "carol", server.host.c_str(), "127.0.0.1");
    logIn(server, carol, "carol");
    std::string notes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ByteBuffer block;
        const std::string result = server.request([&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.NoteDownLoad(socket, "carol", "carol-pw", block);
        });
        notes += result.substr(0, 2);
        for (const auto record : storedNoteRecords(block.data(), block.size())) {
            NoteRecord note;
            note.ParsePayload(record.data(), static_cast<uint32_t>(record.size()));
            notes += "|" + std::string(note.content.data(), note.content.size());
        }
    }
    EXPECT_EQ(notes, "OK|{\\rtf1 first}|{\\rtf1 second}OK");
}

// A native peer on 127.0.0.3 answers a note with the file it brought, on the
// peer port both use, to the dotted address the note names as its sender:
// from the Windows build under Wine, whose own address may not be 127.0.0.1
// unless it binds it.
TEST_F(NotesEndToEndTest, ToAndFromTheOtherBuild) {
#ifdef VP_NOTE_PEER_FILE
    std::ifstream file(VP_NOTE_PEER_FILE);
    std::string address;
    uint16_t port = 0;
    if (!(file >> address >> port)) GTEST_SKIP() << "no note peer runs";
    m_bob = std::make_unique<NoteClient>(m_dir.native() / "me", m_dir.path("me"), "127.0.0.1", "", "127.0.0.1",
                                         port);
    ASSERT_EQ(m_bob->listener->port(), port);
    m_bob->context.peerPort = port;
    EXPECT_EQ(send(address.c_str(), 300000) + m_sentStatus, "1Sent");
    EXPECT_EQ(arrived(1, m_bob.get()), "Received|same|1");
#else
    GTEST_SKIP() << "this build has no note peer";
#endif
}

} // namespace
} // namespace vp
