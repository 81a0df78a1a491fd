#include "notes/NoteList.h"
#include "notes/NoteRecord.h"
#include "protocol/ProtocolFixture.h"
#include "support/AllocationWatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using namespace test;

constexpr uint32_t kNewer = 0x0014FFEB;  // 1.4.0

// The handlers of later exchanges, as fakes that record what reached them.
class FakeHandlers : public NoteReceiverPort, public RelayStarterPort, public AnnouncementPort {
public:
    uint32_t ReceiveNote(ClientProtocol&, TcpSocket&, const FrameHeader& header,
                         std::unique_ptr<NoteRecord>& note) override {
        calls.push_back("note " + std::to_string(header.length));
        if (keepNote) kept = std::move(note);
        return noteResult;
    }
    uint32_t startRelayThread(std::unique_ptr<RelayJob> job, const ProtocolContext&) override {
        calls.push_back(std::string("relay ") + job->serverAddress.c_str() + " " + job->ticket.c_str());
        return relayResult;
    }
    void showAnnouncement(const TextString& text) override { calls.push_back(std::string("announce ") + text.c_str()); }

    std::vector<std::string> calls;
    uint32_t noteResult = 1;
    uint32_t relayResult = 1;
    bool keepNote = false;
    std::unique_ptr<NoteRecord> kept;
};

class HandleRequestTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        m_context.notes = &m_handlers;
        m_context.relay = &m_handlers;
        m_context.announcements = &m_handlers;
    }

    // Serves one request that the peer plays; the result of HandleRequest.
    uint32_t serve(ScriptedPeer& peer) {
        return play(peer, [](ClientProtocol& protocol, TcpSocket& socket) { return protocol.HandleRequest(socket); });
    }
    // The peer sends request and expects exactly answer back ("-": it hangs
    // up instead).
    uint32_t exchange(const char* what, const std::string& request, const std::string& answer) {
        SCOPED_TRACE(what);
        ScriptedPeer peer;
        peer.send(request);
        if (answer == "-") {
            peer.hangUp();
        } else {
            peer.expect(answer);
        }
        return serve(peer);
    }
    // A presence event of alice@example.org's server.
    static std::string event(const std::string& user, const std::string& address, uint32_t status,
                             uint32_t statusLength = 4) {
        const std::string server = "example.org";
        return le32(static_cast<uint32_t>(user.size())) + le32(static_cast<uint32_t>(server.size())) +
               le32(static_cast<uint32_t>(address.size())) + le32(statusLength) + user + server + address + le32(status);
    }
    // The peer pushes an event: YES, the event, YES, and then what follows.
    uint32_t push(const char* what, const std::string& event, const std::string& after = "") {
        SCOPED_TRACE(what);
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 102, static_cast<uint32_t>(event.size()))).expect(yes()).send(event);
        peer.expect(yes() + after);
        return serve(peer);
    }

    FakeHandlers m_handlers;
};

// A known-contact query for user (its length word given apart) at server.
std::string query(uint32_t userLength, const std::string& user, const std::string& server) {
    const std::string payload = le32(userLength) + user + server;
    return frame(kOwnVersion, 1016, static_cast<uint32_t>(payload.size())) + payload;
}

TEST_F(HandleRequestTest, EachRequestNeedsTheOwnVersionAndAWellFormedPayload) {
    const struct {
        const char* what;
        std::string request;
        std::string answer;
        uint32_t result;
    } cases[] = {
        {"a wrong check value", frame(0x0013FFED, 100, 0), frame(0xFFFFFFFF, 0, 0), 0},
        {"a probe", frame(kNewer, 100, 0), frame(kNewer, 0, 0), 0},
        {"an unknown code: nothing read, nothing sent", frame(kOwnVersion, 1005, 3) + "xyz", "", 1},
        {"gone after the code word", le32(kOwnVersion) + le32(100), "-", 0},
        {"a note in another version", frame(kNewer, 1003, 40), frame(kNewer, 0, 0), 0},
        {"an announcement in another version", frame(kNewer, 101, 3), frame(kNewer, 0, 0), 0},
        {"an event in another version", frame(kNewer, 102, 3), frame(kNewer, 0, 0), 0},
        {"a relay request in another version", frame(kNewer, 1011, 8), frame(kNewer, 0, 0), 0},
        {"a relay request without a ticket", frame(kOwnVersion, 1011, 0), no(), 0},
        {"a ticket longer than any", frame(kOwnVersion, 1011, 257), no(), 0},
        {"a 4 GiB event", frame(kOwnVersion, 102, 0xFFFFFFFF), no() + no(), 0},
        {"a contact query", query(5, "ALICE", "example.org"), yes(), 1},
        // Refused queries: the handler's NO, then the dispatcher's.
        {"a query for a user not on the list", query(5, "carol", "example.org"), no() + no(), 0},
        {"a query whose first word is 4", query(4, "alic", "example.org"), no() + no(), 0},
        {"a query name past the end", query(50, "alice", "example.org"), no() + no(), 0},
        {"a query shorter than a word", frame(kOwnVersion, 1016, 2) + "xy", no() + no(), 0},
        {"an empty query", frame(kOwnVersion, 1016, 0), no() + no(), 0},
        {"a query in another version", frame(kNewer, 1016, 16), frame(kNewer, 0, 0), 0},
    };
    AllocationWatch allocations;
    for (const auto& c : cases) EXPECT_EQ(exchange(c.what, c.request, c.answer), c.result) << c.what;
    EXPECT_LT(allocations.largest(), 64u << 20);
    ClientProtocol protocol;
    TcpSocket closed;
    closed.Close();
    EXPECT_EQ(protocol.HandleRequest(closed), 0u);
    EXPECT_TRUE(m_handlers.calls.empty());
}

TEST_F(HandleRequestTest, NotesAnnouncementsAndRelaysGoToTheirHandlers) {
    const uint32_t notesBefore = NoteList::instance().count();
    m_handlers.noteResult = 0;
    EXPECT_EQ(exchange("a refused note goes, NO", frame(kOwnVersion, 1003, 40), no()), 0u);
    EXPECT_EQ(NoteList::instance().count(), notesBefore);
    m_handlers.noteResult = 1;
    m_handlers.keepNote = true;
    EXPECT_EQ(exchange("a note taken in and kept by the receiver", frame(kOwnVersion, 1003, 40), ""), 1u);
    ASSERT_NE(m_handlers.kept, nullptr);
    EXPECT_EQ(NoteList::instance().count(), notesBefore + 1);
    m_handlers.kept.reset();
    {
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 101, 12)).expect(yes()).send("Maintenance!").expect(yes());
        EXPECT_EQ(serve(peer), 1u);
    }
    // The server's connection stays open while the relay runs.
    for (const uint32_t started : {1u, 0u}) {
        m_handlers.relayResult = started;
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1011, 8)).expect(yes()).send("T1cket-8");
        if (started) peer.hangUp();
        else peer.expect(no() + no());  // the start's NO, then the dispatcher's
        EXPECT_EQ(serve(peer), started);
    }
    EXPECT_EQ(m_handlers.calls, (std::vector<std::string>{"note 40", "note 40", "announce Maintenance!",
                                                          "relay 127.0.0.1 T1cket-8", "relay 127.0.0.1 T1cket-8"}));

    m_context.notes = nullptr;
    m_context.announcements = nullptr;
    m_context.relay = nullptr;
    EXPECT_EQ(exchange("no receiver", frame(kOwnVersion, 1003, 40), no()), 0u);
    EXPECT_EQ(exchange("no announcement box", frame(kOwnVersion, 101, 3), no()), 0u);
    EXPECT_EQ(exchange("no relay", frame(kOwnVersion, 1011, 8), no()), 0u);
}

TEST_F(HandleRequestTest, ContactStatusEventsUpdateKnownContactsOnly) {
    EXPECT_EQ(presence(), "0 Unknown");
    EXPECT_EQ(push("online", event("Alice", "10.1.2.3", 1)), 1u);
    EXPECT_EQ(presence(), "1 10.1.2.3");
    EXPECT_EQ(push("a user not on the list: nothing changes", event("mallory", "10.9.9.9", 0)), 1u);
    // Malformed events are acknowledged, not applied, and refused.
    EXPECT_EQ(push("a status not 4 bytes long", event("alice", "0.0.0.0", 0, 3), no()), 0u);
    EXPECT_EQ(push("lengths past the end", le32(99) + le32(0) + le32(0) + le32(4) + le32(0), no()), 0u);
    EXPECT_EQ(presence(), "1 10.1.2.3");
    // Offline, through the relay: the contact keeps the address it had.
    EXPECT_EQ(push("offline", event("alice", "0.0.0.0", 0)), 1u);
    EXPECT_EQ(presence(), "0 10.1.2.3");
}

} // namespace
} // namespace vp
