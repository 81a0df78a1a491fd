#include "ServerFixture.h"

#include <sys/resource.h>

namespace vp::test {
namespace {

TEST_F(ServerTest, HostileInputEndsOnlyItsOwnConversation) {
    // Both ends of every silent connection live in this process.
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    startServer();
    // Connections that never say anything are held, and dropped after the
    // idle time-out, while others are served.
    std::vector<TcpSocket> silent(500);
    for (TcpSocket& socket : silent) ASSERT_EQ(socket.Connect(m_host.c_str(), m_port), 1u);
    TcpSocket ann;
    EXPECT_EQ(login(ann, "ann", "ann-pw"), "OK Hello from mainhub.");
    EXPECT_EQ(locate("ann"), "OK " + m_host);

    // Each sends no more than the server reads, and gets the answer before
    // the server closes.
    const std::string wrongLogin = le32(3) + le32(6) + le32(4) + "bobsecret" + le32(0);
    const struct {
        const char* what;
        std::string sent;
        std::string answer;
    } cases[] = {
        {"random bytes", bytes("\x8f\x13\x7a\x01\xee\x52\x90\x3b\x11\x00\xc4\x7d", 12), no()},
        {"another version", frame(0x0014FFEB, 1002, 3), no()},
        {"a length of 0xFFFFFFFF", frame(kOwnVersion, 1000, 0xFFFFFFFF), no("The request is too long for this server.")},
        {"a request the server does not take", frame(kOwnVersion, 1016, 0), no("This server does not know that request.")},
        {"a log-in whose lengths run past its end",
         frame(kOwnVersion, 1000, 20) + le32(99) + le32(6) + le32(4) + "bobsecre",
         yes() + yes(m_host) + no("The server could not read this request.")},
        {"a wrong password", frame(kOwnVersion, 1000, 25) + wrongLogin,
         yes() + yes(m_host) + no("The user name or the password is not right.")},
        {"a relay channel with a made-up ticket", frame(kOwnVersion, 1009, 4) + "abcd",
         yes() + no("This relay ticket belongs to no session here. Please log in again.")},
        {"a header that stalls", frame(kOwnVersion, 1002, 3).substr(0, 6), ""},
        {"a payload that stalls", frame(kOwnVersion, 1002, 10) + "abc", yes()},
    };
    for (const auto& hostile : cases) {
        SCOPED_TRACE(hostile.what);
        TcpSocket socket;
        ASSERT_EQ(socket.Connect(m_host.c_str(), m_port), 1u);
        ASSERT_TRUE(sendBytes(socket, hostile.sent));
        EXPECT_EQ(hex(receive(socket, hostile.answer.size())), hex(hostile.answer));
        EXPECT_TRUE(closedByPeer(socket));
    }
    EXPECT_EQ(locate("ann"), "OK " + m_host);
    for (TcpSocket& socket : silent) EXPECT_TRUE(closedByPeer(socket));
}

} // namespace
} // namespace vp::test
