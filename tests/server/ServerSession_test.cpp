#include "ServerFixture.h"

namespace vp::test {
namespace {

TEST_F(ServerTest, PresenceReachesAnAskerOnItsPeerPortAndASecondLogInReplacesTheFirst) {
    startServer();
    TcpSocket bob, firstAnn, secondAnn;
    ASSERT_EQ(login(bob, "bob", "bob-pw"), "OK Hello from mainhub.");
    ASSERT_EQ(queryStatus("ann", "bob"), "0.0.0.0 0");
    ASSERT_EQ(login(firstAnn, "Ann", "ann-pw"), "OK Hello from mainhub.");
    ASSERT_TRUE(eventually([&] { return m_peers->pushes().size() == 1; }));
    ASSERT_EQ(login(secondAnn, "ann", "ann-pw"), "OK Hello from mainhub.");
    EXPECT_TRUE(closedByPeer(firstAnn));
    ASSERT_TRUE(eventually([&] { return m_peers->pushes().size() == 2; }));
    // The replaced session took nobody offline.
    EXPECT_EQ(locate("ann"), "OK " + m_host);
    secondAnn.Close();
    ASSERT_TRUE(eventually([&] { return m_peers->pushes().size() == 3; }));
    const std::vector<std::string> expected = {contactStatus("ann", m_host, 1), contactStatus("ann", m_host, 1),
                                               contactStatus("ann", "0.0.0.0", 0)};
    EXPECT_EQ(m_peers->pushes(), expected);
    EXPECT_EQ(locate("ann"), "ann@mainhub is not online.");
}

TEST_F(ServerTest, AClientBehindAProxyGetsPresenceOverItsRelayChannel) {
    startServer();
    TcpSocket carol, channel, ann;
    std::string ticket;
    ASSERT_EQ(login(carol, "carol", "carol-pw", false, &ticket), "OK Hello from mainhub.");
    ASSERT_EQ(ticket.size(), 32u);
    EXPECT_EQ(locate("carol"), "OK 0.0.0.0");
    ASSERT_EQ(channel.Connect(m_host.c_str(), m_port), 1u);
    ASSERT_EQ(play(channel, {{Step::Send, frame(kOwnVersion, 1009, 32)},
                             {Step::Expect, yes()},
                             {Step::Send, ticket},
                             {Step::Expect, yes()}}),
              "");
    ASSERT_EQ(queryStatus("ann", "carol"), "0.0.0.0 0");
    ASSERT_EQ(login(ann, "ann", "ann-pw"), "OK Hello from mainhub.");
    // The client reads the whole block, answers, reads the notice again and
    // answers again.
    const std::string notice = contactStatus("ann", m_host, 1);
    EXPECT_EQ(play(channel, {{Step::Expect, notice},
                             {Step::Send, yes()},
                             {Step::Expect, notice.substr(12)},
                             {Step::Send, yes()}}),
              "");
    // The channel goes with its session.
    carol.Close();
    EXPECT_TRUE(closedByPeer(channel));
    EXPECT_TRUE(m_peers->pushes().empty());
}

TEST_F(ServerTest, KeepAlivesAreAnsweredAndASilentSessionGoesOffline) {
    m_config.keepAliveSeconds = 1;
    startServer();
    TcpSocket ann;
    ASSERT_EQ(login(ann, "ann", "ann-pw"), "OK Hello from mainhub.");
    // Each byte gets one byte back, the interval; two at once get two.
    EXPECT_EQ(play(ann, {{Step::Send, "\x3c"}, {Step::Expect, "\x01"}, {Step::Send, "\x3c\x28"}, {Step::Expect, "\x01\x01"}}),
              "");
    EXPECT_EQ(locate("ann"), "OK " + m_host);
    EXPECT_TRUE(closedByPeer(ann));
    EXPECT_EQ(locate("ann"), "ann@mainhub is not online.");
}

} // namespace
} // namespace vp::test
