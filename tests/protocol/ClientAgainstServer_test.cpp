// The client's own session requests against the server program over
// loopback. The program is started for the run by the test fixture, which
// names its address in the file VP_TEST_SERVER_FILE ("host port"); the
// same test runs as a Linux and as a Windows program against it.

#include "support/ClientCalls.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

namespace vp::test {
namespace {

TEST(ClientAgainstServer, TheClientsOwnSessionRequests) {
    const char* file = std::getenv("VP_TEST_SERVER_FILE");
    if (!file) GTEST_SKIP() << "VP_TEST_SERVER_FILE names no running server";
    ClientCalls client;
    std::ifstream(file) >> client.host >> client.port;
    ASSERT_NE(client.port, 0) << "no server address in " << file;
    ASSERT_EQ(NetStartup(), 1u);

    // A client whose own address is not the one the server sees (under
    // Wine the host name may resolve to another interface) is reachable
    // only through the relay, and says so at log-in.
    char local[64] = {};
    LocalAddress(local, sizeof local);
    const std::string annSeenAt = local == client.host ? client.host : "0.0.0.0";
    TcpSocket ann, carol;
    std::string ticket;
    const struct {
        const char* what;
        std::function<std::string()> run;
        std::string outcome;
    } steps[] = {
        {"log-in", [&] { return client.login(ann, "ann", "ann-pw"); }, "OK Hello from mainhub."},
        {"log-in with a wrong password", [&] { TcpSocket s; return client.login(s, "bob", "ann-pw"); },
         "The user name or the password is not right."},
        {"log-in behind a proxy", [&] { return client.login(carol, "carol", "carol-pw", false, &ticket); },
         "OK Hello from mainhub."},
        {"its relay ticket", [&] { return ticket.size() >= 32 ? "32 or more" : ticket; }, "32 or more"},
        {"locate, online", [&] { return client.locate("ann@mainhub"); }, "OK " + annSeenAt},
        {"locate, through the relay only", [&] { return client.locate("carol"); }, "OK 0.0.0.0"},
        {"locate, offline", [&] { return client.locate("Bob"); }, "Bob@mainhub is not online."},
        {"locate, unknown", [&] { return client.locate("dave"); }, "No user named dave@mainhub is registered here."},
        {"status, online", [&] { return client.queryStatus("ann", "bob"); }, annSeenAt + " 1"},
        {"status, offline", [&] { return client.queryStatus("bob", "ann"); }, "0.0.0.0 0"},
        {"status, unknown", [&] { return client.queryStatus("dave", "ann"); },
         "No user named dave@mainhub is registered here."},
        {"password change, wrong password", [&] { return client.changePassword("bob", "ann-pw", "new-pw"); },
         "The current password is not right."},
        {"password change", [&] { return client.changePassword("bob", "bob-pw", "new-pw"); }, "OK "},
        {"log-in with the new password", [&] { TcpSocket s; return client.login(s, "bob", "new-pw"); },
         "OK Hello from mainhub."},
        {"password change back", [&] { return client.changePassword("bob", "new-pw", "bob-pw"); }, "OK "},
    };
    for (const auto& step : steps) EXPECT_EQ(step.run(), step.outcome) << step.what;
    ann.Close();
    carol.Close();
    NetCleanup();
}

} // namespace
} // namespace vp::test
