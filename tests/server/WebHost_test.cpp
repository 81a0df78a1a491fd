#include "ServerFixture.h"
#include "WebHost.h"

namespace vp::test {
namespace {

constexpr char kAccount[] = "get /cgi-bin/vellumpost/createac.dll?&SVR=mainhub";

class WebHostTest : public ServerTest {
protected:
    // What the web host sends back before it closes.
    std::string exchange(const std::string& request) {
        TcpSocket socket;
        if (socket.Connect(m_host.c_str(), m_server->webPort()) != 1 || !sendBytes(socket, request))
            return "no connection";
        return receive(socket, 1 << 20);
    }
    std::optional<server::AccountEntry> searchable(const std::string& key) {
        const auto found = m_storage->searchableAccounts([&](const auto& entry) { return entry.key == key; }, 1);
        if (found.empty()) return std::nullopt;
        return found.front();
    }
};

TEST_F(WebHostTest, TheClientsOneLineRequestsAreAnsweredByteForByte) {
    m_config.listedServers = {"http://other.example.org/new? other.example.org Another server"};
    startServer();
    const std::string port = std::to_string(m_server->webPort());
    const struct {
        std::string request;
        std::string reply;
    } rows[] = {
        {"get /cgi-bin/vellumpost/svrlist.dll\n",
         "VELLUMPOST_SERVERS2\nhttp://mainhub:" + port + "/cgi-bin/vellumpost/createac.dll? mainhub\n"
         "http://other.example.org/new? other.example.org Another server\nEOF\n"},
        {kAccount + std::string("&UNAME=Dan%20Lee&PW=dan%2Dpw&FNAME=Dan&HCITY=Graz&HCOUNTRY=AT"
                                "&SHOWFLAGS=111111111101&VER=3%2E12\r\n"),
         "VELLUMPOST_CREATEAC0\n"},
        {kAccount + std::string("&UNAME=Ann&PW=new-pw&SHOWFLAGS=111111111111\n"), "VELLUMPOST_CREATEAC1\n"},
        {kAccount + std::string("&UNAME=Gus&PW=abc\n"), "VELLUMPOST_CREATEAC8\n"},
        {kAccount + std::string("&UNAME=a%40b&PW=abcd\n"), "VELLUMPOST_CREATEAC3\n"},
        {kAccount + std::string("&UNAME=Gus&PW=abcd&EMAIL=gus\n"), "VELLUMPOST_CREATEAC6\n"},
        {kAccount + std::string("&UNAME=Gus&PW=abcd&HCITY=") + std::string(32, 'x') + "\n", "VELLUMPOST_CREATEAC11\n"},
        {kAccount + std::string("&UNAME=Gus&PW=abcd&CMT=a%0Ab\n"), "VELLUMPOST_CREATEAC7\n"},
        {"get /cgi-bin/vellumpost/createac.dll?&SVR=elsewhere&UNAME=Gus&PW=abcd\n", "VELLUMPOST_CREATEAC-1\n"},
        {"get /cgi-bin/other.dll\n", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        EXPECT_EQ(exchange(row.request), row.reply);
    }
    const auto hash = m_storage->passwordHash("dan lee");
    ASSERT_TRUE(hash);
    EXPECT_TRUE(server::verifyPassword(*hash, "dan-pw"));
    EXPECT_TRUE(server::verifyPassword(*m_storage->passwordHash("ann"), "ann-pw"));
    EXPECT_FALSE(m_storage->userExists("gus"));
    const auto dan = searchable("dan lee");
    ASSERT_TRUE(dan);
    EXPECT_EQ(dan->profile.firstName, "Dan");
    EXPECT_EQ(dan->profile.city, "Graz");
    EXPECT_EQ(dan->profile.showFlags, "111111111101");
}

TEST_F(WebHostTest, TheSearchListsWhoChoseToBeFoundWithTheirAddLink) {
    const struct {
        const char* key;
        const char* firstName;
        const char* comment;
        const char* showFlags;
    } accounts[] = {
        {"dan lee", "Dan", "likes <b>tags</b>", "111111111111"},
        {"eve", "Dan", "", "011111111111"},
        {"fay", "Fay", "", "111111110111"},
    };
    for (const auto& account : accounts) {
        server::AccountProfile profile;
        profile.firstName = account.firstName;
        profile.comment = account.comment;
        profile.city = "Graz";
        profile.showFlags = account.showFlags;
        ASSERT_EQ(m_storage->addUser(account.key, s_hashes[0], profile), server::StorageResult::Done);
    }
    startServer();
    const struct {
        std::string query;
        std::vector<std::string> shown;
        std::vector<std::string> absent;
    } rows[] = {
        {"/search?q=DAN",
         {"<a href=\"http://127.0.0.1:5002/dan%20lee@mainhub\">dan lee@mainhub</a>", "likes &lt;b&gt;tags&lt;/b&gt;"},
         {"eve", "fay", "<b>tags"}},
        {"/search?q=graz", {"dan lee@mainhub"}, {"eve", "fay@"}},
        {"/search/query.html?qt=Lee+Graz", {"dan lee@mainhub"}, {"eve", "fay@"}},
        {"/query.html?qt=lee+fay", {"Nobody found."}, {"dan lee@"}},
        {"/search?q=%22%3E", {"value=\"&quot;&gt;\"", "Nobody found."}, {"dan lee@"}},
        {"/search", {"dan lee@mainhub", "http://127.0.0.1:5002/fay@mainhub", "First name: Fay"}, {"eve", "ann"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.query);
        const std::string page = exchange("GET " + row.query + " HTTP/1.1\r\nHost: mainhub\r\n\r\n");
        EXPECT_TRUE(page.starts_with("HTTP/1.1 200 OK\r\n")) << page;
        for (const std::string& text : row.shown) EXPECT_NE(page.find(text), std::string::npos) << text;
        for (const std::string& text : row.absent) EXPECT_EQ(page.find(text), std::string::npos) << text;
    }
}

TEST_F(WebHostTest, TheSignUpFormCreatesTheAccount) {
    startServer();
    const struct {
        std::string form;
        std::string sentence;
        std::string key;
        std::string showFlags;
    } rows[] = {
        {"UNAME=Gil+Ross&PW=gil-pw&CPW=gil-pw&FNAME=Gil&SHOWFNAME=1&SEARCHABLE=1", "Your account was created.",
         "gil ross", "111000000000"},
        {"UNAME=Hal&PW=hal-pw&CPW=hal-px", "The two passwords differ.", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.form);
        const std::string page = exchange("POST /signup HTTP/1.1\r\nHost: mainhub\r\nContent-Type: "
                                          "application/x-www-form-urlencoded\r\nContent-Length: " +
                                          std::to_string(row.form.size()) + "\r\n\r\n" + row.form);
        EXPECT_TRUE(page.starts_with("HTTP/1.1 200 OK\r\n")) << page;
        EXPECT_NE(page.find(row.sentence), std::string::npos) << page;
        if (row.key.empty()) continue;
        EXPECT_TRUE(server::verifyPassword(m_storage->passwordHash(row.key).value_or(""), "gil-pw"));
        const auto account = searchable(row.key);
        ASSERT_TRUE(account);
        EXPECT_EQ(account->profile.showFlags, row.showFlags);
    }
    EXPECT_FALSE(m_storage->userExists("hal"));
}

TEST_F(WebHostTest, BrowsersGetAPagePerPath) {
    startServer();
    const struct {
        std::string target;
        std::string status;
        std::string text;
    } rows[] = {
        {"/", "200 OK", "<a href=\"/signup\">"},
        {"/signup", "200 OK", "<input type=\"password\" name=\"CPW\" maxlength=\"31\">"},
        {"/nothing", "404 Not Found", "There is no page at this address."},
        {"/cgi-bin/vellumpost/createac.dll?UNAME=Ivy&PW=ivy-pw", "200 OK", "\r\n\r\nVELLUMPOST_CREATEAC0\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target);
        const std::string page = exchange("GET " + row.target + " HTTP/1.1\r\nHost: mainhub\r\n\r\n");
        EXPECT_TRUE(page.starts_with("HTTP/1.1 " + row.status + "\r\n")) << page;
        EXPECT_NE(page.find(row.text), std::string::npos) << page;
    }
}

// A connection that never completes its request is closed at the header
// time-out (a second in these tests).
TEST_F(WebHostTest, AnUnfinishedRequestIsClosedAtTheTimeOut) {
    startServer();
    TcpSocket quiet;
    ASSERT_EQ(quiet.Connect(m_host.c_str(), m_server->webPort()), 1u);
    ASSERT_TRUE(sendBytes(quiet, "GET / HTTP/1.1\r\n"));
    EXPECT_TRUE(closedByPeer(quiet));
}

TEST_F(WebHostTest, TheStopClosesOpenConnections) {
    m_config.headerTimeout = std::chrono::seconds(60);
    startServer();
    TcpSocket open;
    ASSERT_EQ(open.Connect(m_host.c_str(), m_server->webPort()), 1u);
    ASSERT_TRUE(sendBytes(open, "get /cgi-bin"));
    // Connections are taken in turn: once a later one is answered, the
    // first is being served.
    ASSERT_EQ(exchange("get /cgi-bin/vellumpost/svrlist.dll\n").substr(0, 18), "VELLUMPOST_SERVERS");
    m_server->stop();
    EXPECT_TRUE(closedByPeer(open));
}

TEST_F(WebHostTest, RequestsBeyondTheBoundsAreRefused) {
    startServer();
    const std::string tooLong(server::WebHost::kMaxRequestHead, 'a');
    const struct {
        std::string request;
        std::string reply;
    } rows[] = {
        // The client's line has no way to say "too long": it is closed.
        {"get /cgi-bin/vellumpost/svrlist.dll?" + tooLong + "\n", ""},
        {"GET / HTTP/1.1\r\nX-Long: " + tooLong + "\r\n\r\n", "HTTP/1.1 413 Payload Too Large\r\n"},
        {"POST /signup HTTP/1.1\r\nContent-Length: 16385\r\n\r\n", "HTTP/1.1 413 Payload Too Large\r\n"},
        {"PUT / HTTP/1.1\r\n\r\n", "HTTP/1.1 405 Method Not Allowed\r\n"},
        {"\x16\x03\x01\x02\x00\x01\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request.substr(0, 40));
        const std::string reply = exchange(row.request);
        EXPECT_EQ(row.reply.empty() ? reply : reply.substr(0, row.reply.size()), row.reply);
    }
    EXPECT_EQ(exchange("get /cgi-bin/vellumpost/svrlist.dll\n").substr(0, 20), "VELLUMPOST_SERVERS1\n");
}

} // namespace
} // namespace vp::test
