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
    uint32_t startRelay(ClientProtocol&, TcpSocket&, const FrameHeader& header) override {
        calls.push_back("relay " + std::to_string(header.length));
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
    uint32_t serve(ScriptedPeer& peer, const ProtocolContext& context) {
        ClientProtocol protocol(context);
        TcpSocket socket;
        connect(peer, socket);
        const uint32_t result = protocol.HandleRequest(socket);
        socket.Close();
        EXPECT_EQ(peer.finish(), "");
        return result;
    }
    uint32_t serve(ScriptedPeer& peer) { return serve(peer, m_context); }

    // A presence event for user@server, address text and status.
    static std::string statusEvent(const std::string& user, const std::string& server, const std::string& address,
                                   uint32_t status, uint32_t statusLength = 4) {
        return le32(static_cast<uint32_t>(user.size())) + le32(static_cast<uint32_t>(server.size())) +
               le32(static_cast<uint32_t>(address.size())) + le32(statusLength) + user + server + address +
               le32(status);
    }

    FakeHandlers m_handlers;
};

TEST_F(HandleRequestTest, ProbesBadVersionsAndUnknownCodes) {
    {
        SCOPED_TRACE("a version word with a wrong check value");
        ScriptedPeer peer;
        peer.send(frame(0x0013FFED, 100, 0)).expect(frame(0xFFFFFFFF, 0, 0));
        EXPECT_EQ(serve(peer), 0u);
    }
    {
        SCOPED_TRACE("a probe is refused with the requester's version");
        ScriptedPeer peer;
        peer.send(frame(kNewer, 100, 0)).expect(frame(kNewer, 0, 0));
        EXPECT_EQ(serve(peer), 0u);
    }
    {
        SCOPED_TRACE("an unknown code is ignored: nothing read, nothing sent");
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1005, 3) + "xyz");
        EXPECT_EQ(serve(peer), 1u);
    }
    {
        SCOPED_TRACE("the connection goes after the code word");
        ScriptedPeer peer;
        peer.send(le32(kOwnVersion) + le32(100)).hangUp();
        EXPECT_EQ(serve(peer), 0u);
    }
    ClientProtocol protocol;
    TcpSocket closed;
    closed.Close();
    EXPECT_EQ(protocol.HandleRequest(closed), 0u);
    EXPECT_TRUE(m_handlers.calls.empty());
}

TEST_F(HandleRequestTest, NoteHeadersGoToTheReceiverOnlyWithTheOwnVersion) {
    const size_t notesBefore = NoteList::instance().count();
    {
        SCOPED_TRACE("another version is refused before a note exists");
        ScriptedPeer peer;
        peer.send(frame(kNewer, 1003, 40)).expect(frame(kNewer, 0, 0));
        EXPECT_EQ(serve(peer), 0u);
        EXPECT_TRUE(m_handlers.calls.empty());
    }
    {
        SCOPED_TRACE("a refused note is destroyed and answered NO");
        m_handlers.noteResult = 0;
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1003, 40)).expect(no());
        EXPECT_EQ(serve(peer), 0u);
        EXPECT_EQ(NoteList::instance().count(), notesBefore);
    }
    {
        SCOPED_TRACE("a note taken in is kept by its receiver");
        m_handlers.noteResult = 1;
        m_handlers.keepNote = true;
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1003, 40));
        EXPECT_EQ(serve(peer), 1u);
        ASSERT_NE(m_handlers.kept, nullptr);
        EXPECT_EQ(NoteList::instance().count(), notesBefore + 1);
        m_handlers.kept.reset();
    }
    EXPECT_EQ(m_handlers.calls, (std::vector<std::string>{"note 40", "note 40"}));
    {
        SCOPED_TRACE("without a receiver every note is refused");
        ProtocolContext bare = m_context;
        bare.notes = nullptr;
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1003, 40)).expect(no());
        EXPECT_EQ(serve(peer, bare), 0u);
    }
}

TEST_F(HandleRequestTest, AnnouncementsAndRelayRequests) {
    {
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 101, 12)).expect(yes()).send("Maintenance!").expect(yes());
        EXPECT_EQ(serve(peer), 1u);
    }
    {
        SCOPED_TRACE("an announcement in another version");
        ScriptedPeer peer;
        peer.send(frame(kNewer, 101, 3)).expect(frame(kNewer, 0, 0));
        EXPECT_EQ(serve(peer), 0u);
    }
    {
        SCOPED_TRACE("a relay request without a ticket is refused unheard");
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1011, 0)).expect(no());
        EXPECT_EQ(serve(peer), 0u);
    }
    {
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1011, 8));
        EXPECT_EQ(serve(peer), 1u);
    }
    {
        SCOPED_TRACE("a relay that cannot start is followed by the dispatcher's NO");
        m_handlers.relayResult = 0;
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1011, 8)).expect(no());
        EXPECT_EQ(serve(peer), 0u);
    }
    EXPECT_EQ(m_handlers.calls, (std::vector<std::string>{"announce Maintenance!", "relay 8", "relay 8"}));
    {
        SCOPED_TRACE("without the ports both are refused");
        ProtocolContext bare = m_context;
        bare.announcements = nullptr;
        bare.relay = nullptr;
        ScriptedPeer announcement;
        announcement.send(frame(kOwnVersion, 101, 3)).expect(no());
        EXPECT_EQ(serve(announcement, bare), 0u);
        ScriptedPeer relay;
        relay.send(frame(kOwnVersion, 1011, 8)).expect(no());
        EXPECT_EQ(serve(relay, bare), 0u);
    }
}

TEST_F(HandleRequestTest, ContactStatusEventsUpdateKnownContactsOnly) {
    EXPECT_EQ(presence(), "0 Unknown");
    {
        const std::string event = statusEvent("Alice", "Example.org", "10.1.2.3", 1);
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 102, static_cast<uint32_t>(event.size()))).expect(yes()).send(event).expect(yes());
        EXPECT_EQ(serve(peer), 1u);
        EXPECT_EQ(presence(), "1 10.1.2.3");
    }
    {
        SCOPED_TRACE("a user not on the list: acknowledged twice, nothing changes");
        const std::string event = statusEvent("mallory", "example.org", "10.9.9.9", 0);
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 102, static_cast<uint32_t>(event.size()))).expect(yes()).send(event).expect(yes());
        EXPECT_EQ(serve(peer), 1u);
        EXPECT_EQ(presence(), "1 10.1.2.3");
    }
    {
        SCOPED_TRACE("lengths that run past the event: acknowledged, not applied, then NO");
        std::string event = statusEvent("alice", "example.org", "0.0.0.0", 0);
        event[0] = 99;
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 102, static_cast<uint32_t>(event.size())))
            .expect(yes())
            .send(event)
            .expect(yes() + no());
        EXPECT_EQ(serve(peer), 0u);
        EXPECT_EQ(presence(), "1 10.1.2.3");
    }
    {
        SCOPED_TRACE("a status that is not 4 bytes long");
        const std::string event = statusEvent("alice", "example.org", "0.0.0.0", 0, 3);
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 102, static_cast<uint32_t>(event.size())))
            .expect(yes())
            .send(event)
            .expect(yes() + no());
        EXPECT_EQ(serve(peer), 0u);
        EXPECT_EQ(presence(), "1 10.1.2.3");
    }
    {
        SCOPED_TRACE("a 4 GiB event is refused before anything is allocated");
        ScriptedPeer peer;
        AllocationWatch allocations;
        peer.send(frame(kOwnVersion, 102, 0xFFFFFFFF)).expect(no() + no());
        EXPECT_EQ(serve(peer), 0u);
        EXPECT_LT(allocations.largest(), 64u << 20);
    }
    {
        SCOPED_TRACE("offline, through the relay");
        const std::string event = statusEvent("alice", "example.org", "0.0.0.0", 0);
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 102, static_cast<uint32_t>(event.size()))).expect(yes()).send(event).expect(yes());
        EXPECT_EQ(serve(peer), 1u);
        // Going offline keeps the address the contact had.
        EXPECT_EQ(presence(), "0 10.1.2.3");
    }
}

TEST_F(HandleRequestTest, KnownContactQueriesAnswerFromTheModel) {
    auto query = [](uint32_t userLength, const std::string& user, const std::string& server) {
        return le32(userLength) + user + server;
    };
    {
        const std::string payload = query(5, "ALICE", "example.org");
        ScriptedPeer peer;
        peer.send(frame(kOwnVersion, 1016, static_cast<uint32_t>(payload.size())) + payload).expect(yes());
        EXPECT_EQ(serve(peer), 1u);
    }
    const std::vector<std::pair<const char*, std::string>> refused = {
        {"a user not on the list", query(5, "carol", "example.org")},
        {"a first word of 4", query(4, "alic", "example.org")},
        {"a user name longer than the payload", query(50, "alice", "example.org")},
        {"a payload shorter than its first word", std::string("\x05\x00", 2)},
    };
    for (const auto& [what, payload] : refused) {
        SCOPED_TRACE(what);
        ScriptedPeer peer;
        // The handler's NO, then the dispatcher's.
        peer.send(frame(kOwnVersion, 1016, static_cast<uint32_t>(payload.size())) + payload).expect(no() + no());
        EXPECT_EQ(serve(peer), 0u);
    }
    {
        SCOPED_TRACE("an empty query and another version");
        ScriptedPeer empty;
        empty.send(frame(kOwnVersion, 1016, 0)).expect(no() + no());
        EXPECT_EQ(serve(empty), 0u);
        ScriptedPeer newer;
        newer.send(frame(kNewer, 1016, 16)).expect(frame(kNewer, 0, 0));
        EXPECT_EQ(serve(newer), 0u);
    }
}

} // namespace
} // namespace vp
