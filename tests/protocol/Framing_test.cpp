#include "protocol/ClientProtocol.h"
#include "support/AllocationWatch.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

using namespace test;

class FramingTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NetStartup(), 1u); }
    void TearDown() override { NetCleanup(); }
};

struct ReplyCase {
    const char* what;
    std::string bytes;  // what the peer sends before it closes
    int32_t result;
    std::string replyText;   // untimed form
    std::string errorText;
};

std::string diagnostic(const char* step) { return std::string("ClientProtocol::GetYesNo(): (_INVALID_YESNO_ ") + step + ")"; }

TEST_F(FramingTest, GetYesNoReadsEveryKindOfReply) {
    const std::string own = le32(kOwnVersion);
    const std::vector<ReplyCase> cases = {
        {"YES without data", yes(), 1, "", ""},
        {"YES with data", yes("10.0.0.7"), 1, "10.0.0.7", ""},
        {"YES with another nonzero flag", frame(kOwnVersion, 7, 2) + "ok", 1, "ok", ""},
        {"NO without reason", no(), 0, "", ""},
        {"NO with a reason", no("abc"), 0, "", "abc"},
        {"another version", yes("x", 0x0014FFEB), 0, "", ""},
        {"an invalid version", frame(0x0013FFED, 1, 0), 0, "", ""},
        {"nothing", "", -1, diagnostic("1"), ""},
        {"half a version word", own.substr(0, 2), -1, diagnostic("1"), ""},
        {"closed after the version", own, -1, diagnostic("2"), ""},
        {"closed after YES", own + le32(1), -1, diagnostic("YES-1"), ""},
        {"YES data cut short", frame(kOwnVersion, 1, 5) + "ab", -1, diagnostic("YES-3"), ""},
        {"YES of 4 GiB", frame(kOwnVersion, 1, 0xFFFFFFFF), -1, diagnostic("YES-2"), ""},
        {"closed after NO", own + le32(0), -1, diagnostic("NO-1"), ""},
        {"NO reason cut short", frame(kOwnVersion, 0, 3) + "a", -1, diagnostic("NO-2"), ""},
        {"NO of 4 GiB", frame(kOwnVersion, 0, 0xFFFFFFFF), 0, "", ""},
    };
    AllocationWatch allocations;
    for (const bool timed : {false, true}) {
        for (const ReplyCase& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (timed ? " (timed)" : ""));
            ScriptedPeer peer;
            peer.send(c.bytes).hangUp().start();
            ClientProtocol protocol;
            TcpSocket& socket = protocol.socket();
            ASSERT_EQ(socket.Connect("127.0.0.1", peer.port()), 1u);
            const int32_t result = timed ? protocol.GetYesNoTimed(socket, protocol.ownVersion(), 5000)
                                         : protocol.GetYesNo(socket, protocol.ownVersion());
            EXPECT_EQ(result, c.result);
            // The timed form leaves no diagnostics behind.
            EXPECT_EQ(protocol.replyText().c_str(), timed && c.result < 0 ? std::string() : c.replyText);
            EXPECT_EQ(protocol.errorText().c_str(), c.errorText);
            EXPECT_EQ(peer.finish(), "");
        }
    }
    // The 4 GiB replies were refused, not allocated.
    EXPECT_LT(allocations.largest(), 64u << 20);
}

TEST_F(FramingTest, TimedReadsGiveUpAfterWholeSeconds) {
    ScriptedPeer peer;
    peer.send(le32(kOwnVersion)).pause(2500).hangUp().start();
    ClientProtocol protocol;
    ASSERT_EQ(protocol.socket().Connect("127.0.0.1", peer.port()), 1u);
    // 1999 ms waits one whole second per read: the flag never comes in time.
    EXPECT_EQ(protocol.GetYesNoTimed(protocol.socket(), protocol.ownVersion(), 1999), -1);
    EXPECT_TRUE(protocol.replyVersion() == protocol.ownVersion());
    EXPECT_EQ(peer.finish(), "");
}

TEST_F(FramingTest, TransfersRefuseNothingToMove) {
    ClientProtocol protocol;
    TcpSocket unconnected;
    char byte = 'x';
    EXPECT_EQ(protocol.SendAll(unconnected, &byte, 0), 0u);
    EXPECT_EQ(protocol.RecvAll(unconnected, &byte, 0), 0u);
    EXPECT_EQ(protocol.RecvAllTimed(unconnected, &byte, 0, 1000), 0u);
    EXPECT_EQ(protocol.SendAll(unconnected, nullptr, 1), 0u);
    EXPECT_EQ(protocol.RecvAll(unconnected, nullptr, 1), 0u);
    EXPECT_EQ(protocol.SendAll(unconnected, &byte, 1), 0u);
    unconnected.Close();
    EXPECT_EQ(protocol.RecvAll(unconnected, &byte, 1), 0u);
}

TEST_F(FramingTest, RepliesAndUploadsGoOutByteForByte) {
    ScriptedPeer peer;
    peer.expect(no("abc", 0x0725F8DA))
        .expect(yes())
        // An upload: YES, the 5 bytes, YES again.
        .expect(yes("", 0x0013FFEC))
        .send("hello")
        .expect(yes("", 0x0013FFEC))
        // An empty upload is still answered twice.
        .expect(yes() + yes())
        .start();
    ClientProtocol protocol;
    TcpSocket& socket = protocol.socket();
    ASSERT_EQ(socket.Connect("127.0.0.1", peer.port()), 1u);
    EXPECT_EQ(protocol.SendReply(socket, 0x0725F8DA, 0, "abc"), 1u);
    EXPECT_EQ(protocol.SendReply(socket, kOwnVersion, 1, ""), 1u);
    EXPECT_EQ(protocol.AcceptUpload(socket, FrameHeader{kOwnVersion, 101, 5}), 1u);
    EXPECT_STREQ(protocol.replyText().c_str(), "hello");
    EXPECT_EQ(protocol.AcceptUpload(socket, FrameHeader{kOwnVersion, 101, 0}), 1u);
    EXPECT_STREQ(protocol.replyText().c_str(), "");
    // Too long to take: refused before anything is sent or allocated.
    AllocationWatch allocations;
    EXPECT_EQ(protocol.AcceptUpload(socket, FrameHeader{kOwnVersion, 101, 0xFFFFFFFF}), 0u);
    EXPECT_LT(allocations.largest(), 64u << 20);
    socket.Close();
    EXPECT_EQ(peer.finish(), "");
}

} // namespace
} // namespace vp
