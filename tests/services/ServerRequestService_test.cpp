// Requests to the server started for the run, each on a worker: the stages
// a window is told of, cancel, the note download and a presence query; and
// what the service's start opens.

#include "notes/NoteRecord.h"
#include "notes/NoteView.h"
#include "protocol/ProtocolFixture.h"
#include "services/ConnectionMonitor.h"
#include "services/ServerRequestService.h"
#include "services/SessionKeeper.h"
#include "support/ClientCalls.h"
#include "support/Eventually.h"
#include "wire/StoredNotePayloads.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>

namespace vp {
namespace {

using namespace test;

// The window of a foreground request: the stages it was told of.
struct Progress final : ServerRequestProgressPort {
    std::mutex lock;
    std::string stages;
    void requestProgress(ServerRequest&, uint32_t stage) override {
        const std::lock_guard<std::mutex> guard(lock);
        stages += (stages.empty() ? "" : " ") + std::to_string(stage);
    }
    std::string seen() {
        const std::lock_guard<std::mutex> guard(lock);
        return stages;
    }
};

struct Desktop final : NoteDesktopPort, ConnectBoxPort {
    std::mutex lock;
    std::string shown;
    void showArrivedNote(std::unique_ptr<NoteRecord> note) override {
        const std::lock_guard<std::mutex> guard(lock);
        shown += "|" + std::string(note->content.data(), note->content.size());
    }
    void deleteNote(NoteRecord&) override {}
    void openConnectBox(uint32_t silently) override { shown += silently ? "|connect" : "|box"; }
    std::string seen() {
        const std::lock_guard<std::mutex> guard(lock);
        return shown;
    }
};

class ServerRequestTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        const char* file = std::getenv("VP_TEST_SERVER_FILE");
        if (!file || !(std::ifstream(file) >> m_server.host >> m_server.port)) GTEST_SKIP() << "no server runs";
        m_setup.protocol = m_context;
        m_setup.protocol.serverPort = m_server.port;
        m_setup.protocol.listener = &m_listener;
        m_setup.general = &m_general;
        m_setup.desktop = &m_desktop;
        m_general.SetString(GeneralOptions::kServerName, m_server.host.c_str());
    }
    // A request of type for user, run in the foreground until its end: the
    // stages told, and the request's text.
    std::string foreground(ServerRequestService& service, uint32_t type, const char* user, const char* password,
                           const char* newPassword = "") {
        auto* request = new ServerRequest();
        request->type = type;
        request->userName = user;
        request->serverName = m_server.host.c_str();
        request->password = password;
        request->newPassword = newPassword;
        Progress progress;
        request->notify = &progress;
        uint32_t identity = 0;
        if (!service.postForeground(request, identity)) return "refused";
        eventually([&] { return progress.seen().ends_with("12") || progress.seen().ends_with("13"); });
        // The window takes the request back.
        const std::string outcome = progress.seen() + "|" + request->messageText.c_str() +
                                    (request->socket && request->socket->IsConnected() ? "|session" : "");
        delete request;
        return outcome;
    }

    ClientCalls m_server;
    FakeListener m_listener{1};
    Desktop m_desktop;
    ServerRequestSetup m_setup;
};

TEST_F(ServerRequestTest, AWindowIsToldOfEachStage) {
    ServerRequestService service(m_setup);
    ASSERT_EQ(service.start(), 1u);
    const char* wrong = "The user name or the password is not right.";
    EXPECT_EQ(foreground(service, kLogInRequest, "ann", "ann-pw"), "1 2 3 6 13|Hello from mainhub.|session");
    EXPECT_EQ(foreground(service, kLogInRequest, "ann", "nope"), std::string("1 2 3 12|") + wrong);
    EXPECT_EQ(foreground(service, kPasswordChangeRequest, "carol", "carol-pw", "carol-pw2"), "1 2 3 13|");
    EXPECT_EQ(foreground(service, kPasswordChangeRequest, "carol", "carol-pw", "x"),
              "1 2 3 12|The current password is not right.");
    EXPECT_EQ(foreground(service, kNoteDownLoadRequest, "carol", "carol-pw2"), "1 12|");
}

// A server that takes the connection and never answers: cancelled, the log-in
// ends without another word to the window, and the worker frees it.
TEST_F(ServerRequestTest, ACancelledLogInTellsTheWindowNothingMore) {
    TcpSocket silent;
    ASSERT_EQ(silent.Bind(0, "127.0.0.1") * silent.Listen(), 1u);
    m_setup.protocol.serverPort = silent.LocalPort();
    ServerRequestService service(m_setup);
    ASSERT_EQ(service.start(), 1u);
    auto* request = new ServerRequest();
    request->type = kLogInRequest;
    request->serverName = "127.0.0.1";
    Progress progress;
    request->notify = &progress;
    uint32_t identity = 0;
    ASSERT_EQ(service.postForeground(request, identity), 1u);
    ASSERT_TRUE(eventually([&] { return progress.seen() == "1 2 3"; }));
    EXPECT_EQ(service.cancel(identity), 1u);
    EXPECT_TRUE(eventually([&] { return service.cancel(identity) == 0; }));
    EXPECT_EQ(progress.seen(), "1 2 3");
}

// bob's notes kept on the server reach the desktop in order after a box
// that counts them; then there are none; a client not logged in is told so.
// A presence query updates the contact model.
TEST_F(ServerRequestTest, BackgroundDownloadsAndQueries) {
    uint32_t connected = 1;
    m_setup.connected = [&connected] { return connected; };
    ServerRequestService service(m_setup);
    ASSERT_EQ(service.start(), 1u);
    m_general.SetString(GeneralOptions::kUserName, "bob");
    m_general.SetString(GeneralOptions::kUserPassword, "bob-pw");
    for (const char* text : {"first", "second"}) {
        NoteRecord note("bob");
        note.content.assign(text, static_cast<uint32_t>(std::strlen(text)));
        ASSERT_EQ(note.BuildPayload("ann@mainhub"), 1u);
        const PayloadWriter block = storedNoteBlock(note.payload(), note.payloadSize());
        ASSERT_EQ(m_server.request([&](ClientProtocol& protocol, TcpSocket& socket) {
            return protocol.LeaveNote(socket, "bob", block.data(), block.size());
        }), "OK ");
    }
    const std::string failed = "Sorry. Cannot complete the NoteDownLoad request.\n";
    const struct {
        uint32_t connected;
        std::string box, shown;
    } rows[] = {
        {1, "NoteDownLoad: A total of 2 notes have been downloaded from the server.\nPlease press the OK button to "
            "display the retrieved notes.", "|first|second"},
        {1, "NoteDownLoad: There are 0 notes on the server.", ""},
        {0, failed + "Reason: You are not connected to the server.", ""},
    };
    for (const auto& row : rows) {
        connected = row.connected;
        m_desktop.shown.clear();
        const size_t boxes = m_messages.boxCount();
        auto* request = new ServerRequest();
        request->type = kNoteDownLoadRequest;
        request->verbose = 1;
        uint32_t identity = 0;
        ASSERT_EQ(service.postBackground(request, identity), 1u);
        const auto outcome = [&] {
            return m_messages.boxCount() > boxes ? m_messages.boxes()[boxes].text + m_desktop.seen() : "";
        };
        eventually([&] { return outcome() == row.box + row.shown; });
        EXPECT_EQ(outcome(), row.box + row.shown);
    }

    TcpSocket annSession;
    ASSERT_EQ(m_server.login(annSession, "ann", "ann-pw"), "OK Hello from mainhub.");
    ContactHandle ann = 0;
    ASSERT_EQ(m_list.addUserContact("ann", "mainhub", 0, 0, ann), 1u);
    auto query = std::make_unique<ServerRequest>();
    query->type = kQueryStatusRequest;
    query->serverName = m_server.host.c_str();
    query->userName = "bob";
    query->receiverUserName = "ann";
    query->receiverServerName = "mainhub";
    query->flags = 1;
    ASSERT_EQ(service.postServerRequest(query), 1u);
    uint32_t online = 0;
    TextString address;
    EXPECT_TRUE(eventually([&] { return m_list.getPresence(ann, online, address) && online == 1; }));
}

TEST_F(ServerRequestTest, TheStartConnectsOpensTheBoxOrOffersAnAccount) {
    const char* offer = "Would you like to create a new account?\n(You must have an internet connection to do this.)";
    const struct {
        const char* user;
        uint32_t answer, created, autoConnect, showBox;
        std::string outcome;
    } rows[] = {
        {"ann", 0, 0, 1, 1, "|connect"},
        {"ann", 0, 0, 0, 1, "|box"},
        {"ann", 0, 0, 0, 0, ""},
        {"", kIdYes, 1, 0, 0, "offer|connect"},
        {"", kIdYes, 0, 0, 1, "offer"},
        {"", kIdNo, 0, 0, 1, "offer|box"},
    };
    for (const auto& row : rows) {
        m_general.SetString(GeneralOptions::kUserName, row.user);
        m_general.SetInt(GeneralOptions::kAutoConnect, row.autoConnect);
        m_general.SetInt(GeneralOptions::kShowConnectBoxAtStartUp, row.showBox);
        m_setup.createAccount = [&row] { return row.created; };
        m_setup.connectBox = &m_desktop;
        m_desktop.shown.clear();
        if (row.answer) m_messages.script({row.answer});
        const size_t boxes = m_messages.boxCount();
        ServerRequestService service(m_setup);
        ASSERT_EQ(service.start(), 1u);
        service.stop();
        const std::string asked = m_messages.boxCount() > boxes && m_messages.boxes()[boxes].text == offer ? "offer" : "";
        EXPECT_EQ(asked + m_desktop.shown, row.outcome) << row.user << row.answer << row.created;
    }
}

// The main window as the session keeper sees it: what it was told, and the
// workers' messages queued for the test's thread, which stands in for the
// user interface thread.
struct MainWindow final : SessionKeeperPort, ServerRequestProgressPort {
    std::mutex lock;
    std::deque<std::function<void()>> posted;
    std::string calls;
    SessionKeeper* keeper = nullptr;

    void showConnectionState(uint32_t connected) override { calls += "state " + std::to_string(connected) + "|"; }
    void loggedIn(const ServerRequest& request) override { calls += std::string("in ") + request.messageText.c_str() + "|"; }
    void sessionLost() override { calls += "lost|"; }
    void postConnectionDropped(TcpSocket* connection) override {
        post([this, connection] { keeper->connectionDropped(connection); });
    }
    void requestProgress(ServerRequest& request, uint32_t stage) override {
        post([this, &request, stage] { keeper->loginProgress(request, stage); });
    }
    void post(std::function<void()> message) {
        const std::lock_guard<std::mutex> guard(lock);
        posted.push_back(std::move(message));
    }
    // Handles the messages as they come until done holds.
    bool runUntil(const std::function<bool()>& done) {
        return eventually([&] {
            std::deque<std::function<void()>> now;
            {
                const std::lock_guard<std::mutex> guard(lock);
                now.swap(posted);
            }
            for (auto& message : now) message();
            return done();
        });
    }
};

// A silent log-in with the saved names, then the watch dropped: with the
// client connected the reconnect box takes over; after an announcement
// that the server re-connected, the state only goes to disconnected.
TEST_F(ServerRequestTest, TheSessionKeeperLogsInWithTheSavedNamesAndHearsOfALoss) {
    ConnectionMonitor monitor(50);
    ASSERT_EQ(monitor.start(), 1u);
    ServerRequestService service(m_setup);
    ASSERT_EQ(service.start(), 1u);
    m_sounds.SetInt(SoundOptions::kPlayOnConnected, 1);
    m_sounds.SetString(SoundOptions::kConnectedSound, "in.wav");
    m_sounds.SetInt(SoundOptions::kPlayOnDisconnected, 0);
    MainWindow window;
    uint32_t flag = 9;
    SessionKeeperSetup setup;
    setup.general = &m_general;
    setup.sounds = &m_sounds;
    setup.contacts = &m_list;
    setup.monitor = &monitor;
    setup.requests = &service;
    setup.port = &window;
    setup.setConnectedFlag = [&flag](uint32_t connected) { flag = connected; };
    setup.playSound = [&window](const char* path) { window.calls += std::string("sound ") + path + "|"; };
    SessionKeeper keeper(setup);
    window.keeper = &keeper;

    struct Row { const char* password; bool announced; const char* calls; const char* box; };
    const Row rows[] = {
        {"nope", false, "state 0|", "The user name or the password is not right."},
        {"ann-pw", false, "in Hello from mainhub.|sound in.wav|state 1|lost|", ""},
        {"ann-pw", true, "in Hello from mainhub.|sound in.wav|state 1|state 0|", ""},
    };
    m_general.SetString(GeneralOptions::kUserName, "ann");
    for (const Row& row : rows) {
        m_general.SetString(GeneralOptions::kUserPassword, row.password);
        window.calls.clear();
        const size_t boxes = m_messages.boxCount();
        ASSERT_EQ(keeper.connectSilently(window), 1u);
        ASSERT_TRUE(window.runUntil([&] { return keeper.pendingIdentity() == 0; })) << row.password;
        EXPECT_EQ(flag, keeper.connected());
        if (keeper.connection()) {
            if (row.announced) keeper.clearLastConnected();
            ASSERT_EQ(monitor.post(2, ConnectionMonitor::kStopWatching, keeper.connection()), 1u);
            EXPECT_TRUE(window.runUntil([&] {
                return window.calls.ends_with("lost|") || window.calls.ends_with("state 0|");
            }));
        }
        EXPECT_EQ(window.calls, row.calls) << row.password;
        EXPECT_EQ(m_messages.boxCount() > boxes ? m_messages.boxes().back().text : "", row.box) << row.password;
        keeper.disconnect();
    }
    // Let go of while under way: the worker ends the log-in, nobody is told.
    window.calls.clear();
    ASSERT_EQ(keeper.connectSilently(window), 1u);
    EXPECT_EQ(keeper.disconnect(), 1u);
    EXPECT_EQ(keeper.pendingIdentity(), 0u);
    // An end told just before the cancel is freed by the keeper.
    service.stop();
    window.runUntil([] { return true; });
    EXPECT_EQ(window.calls, "");
}

} // namespace
} // namespace vp
