#include "services/AccountCreation.h"

#include "foundation/TcpSocket.h"
#include "platform/MemoryRegistry.h"
#include "settings/GeneralOptions.h"
#include "support/ScriptedMessages.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vp {
namespace {

// The socket library, which the Windows build needs before the first
// socket, for every test of this program.
class SocketLibrary final : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(NetStartup(), 1u); }
    void TearDown() override { NetCleanup(); }
};
[[maybe_unused]] ::testing::Environment* const g_sockets = ::testing::AddGlobalTestEnvironment(new SocketLibrary);

TEST(AppendParameter, EncodesEveryByteButLettersAndDigits) {
    struct Row { const char* name; const char* value; const char* appended; };
    const Row rows[] = {
        {"UNAME", "a b@c", "&UNAME=a%20b%40c"},
        {"CMT", "\xE9Z9-_.", "&CMT=%E9Z9%2D%5F%2E"},
        {"CMT", "", ""},
        {"", "value", ""},
    };
    for (const Row& row : rows) {
        TextString text("x");
        EXPECT_EQ(appendParameter(text, row.name, row.value), 1u);
        EXPECT_EQ(std::string(text.c_str()), std::string("x") + row.appended) << row.value;
    }
}

TEST(AccountAnswer, CodesGiveTheirTexts) {
    struct Row { const char* reply; uint32_t found; const char* text; };
    const Row rows[] = {
        {"VELLUMPOST_CREATEAC0\n", 1, "Your Account was successfully created."},
        {"<P>VELLUMPOST_CREATEAC-1", 1, "Sorry, you are not authorized to create an account on that server.\n"
                                        "Please choose a different one."},
        {"VELLUMPOST_CREATEAC15", 1, "An unknown error occured connecting to the server."},
        {"VELLUMPOST_CREATEAC", 0, "An unknown error occured connecting to the server."},
    };
    for (const Row& row : rows) {
        int32_t code = 0;
        const uint32_t found = readAnswerCode(row.reply, code);
        EXPECT_EQ(found, row.found) << row.reply;
        EXPECT_STREQ(accountAnswerText(found, code), row.text) << row.reply;
    }
}

TEST(HttpGet, SendsTheRequestLineAndReadsUntilTheCloseOrAFullBuffer) {
    test::ScriptedPeer peer;
    peer.expect("get /list?a=1\n").send("VELLUMPOST_SERVERS").hangUp().start();
    char buffer[8];
    uint32_t size = sizeof buffer;
    const std::string address = "127.0.0.1:" + std::to_string(peer.port()) + "/list?a=1";
    // A failure ends the test here: finish() would wait for a connection that never comes.
    ASSERT_EQ(httpGet(address.c_str(), buffer, size), 1u);
    EXPECT_EQ(std::string(buffer) + "|" + std::to_string(size), "VELLUMP|7");
    EXPECT_EQ(peer.finish(), "");
}

// The progress box, and a form that presses "Create Account" with each of
// its values until one is accepted.
struct Windows : AccountProgressPort, AccountFormPort {
    void showProgress(const char* text) override { calls += std::string(text) + "|"; }
    void closeProgress() override { calls += "close|"; }
    uint32_t runForm(const std::vector<ServerEntry>& servers, AccountCreation& creation) override {
        for (const ServerEntry& server : servers) shown += std::string(server.displayText.c_str()) + "|";
        for (const AccountFormValues& values : presses)
            if (creation.submit(values) == 1) return 1;
        return 2;
    }
    std::vector<AccountFormValues> presses;
    std::string shown, calls;
};

struct AccountFixture : ::testing::Test {
    test::ScriptedMessages messages;
    test::ScopedMessageService scoped{messages};
    platform::MemoryRegistry registry;
    GeneralOptions settings{registry};
    Windows form;
    AccountCreation creation{settings, form, form};

    std::vector<std::string> boxes() {
        std::vector<std::string> texts;
        for (const auto& box : messages.boxes()) texts.push_back(box.text);
        return texts;
    }
    void listAt(const test::ScriptedPeer& list) {
        const std::string url = "http://127.0.0.1:" + std::to_string(list.port()) + "/list";
        settings.SetString(GeneralOptions::kServerListURL, url.c_str());
    }
};

TEST_F(AccountFixture, ListsWithoutServersEndBeforeTheForm) {
    struct Row { const char* reply; const char* box; };
    const Row rows[] = {
        {"VELLUMPOST_SERVERS0\nEOF", "Sorry, no servers are available at this time."},
        {"Service Unavailable", "Sorry, the server is not available. Please try again later."},
    };
    for (const Row& row : rows) {
        test::ScriptedPeer list;
        list.expect("get /list\n").send(row.reply).hangUp().start();
        listAt(list);
        EXPECT_EQ(creation.createAccount(), 0u);
        ASSERT_EQ(boxes().empty() ? "" : boxes().back(), row.box);
        EXPECT_EQ(list.finish(), "");
    }
    EXPECT_EQ(form.shown, "");
}

TEST_F(AccountFixture, TheThirdServerGetsTheFormAndTheSettingsAreSaved) {
    ASSERT_EQ(settings.SetKeyPath("\\Software\\Test"), 1u);
    test::ScriptedPeer account;
    account.expect("get /new?op=1&SVR=Third&UNAME=ann&PW=s3cret%21&EMAIL=a%40b&SHOWFLAGS=011111111111&VER=3%2E12\n")
        .send("VELLUMPOST_CREATEAC0\n").hangUp().start();
    test::ScriptedPeer list;
    list.expect("get /list\n").send("VELLUMPOST_SERVERS3\nhttp://127.0.0.1:1/a First hub\nhttp://127.0.0.1:1/b "
                                    "Second\nhttp://127.0.0.1:" + std::to_string(account.port()) +
                                    "/new?op=1 Third  hub \n EOF\n").hangUp().start();
    listAt(list);
    AccountFormValues values;
    values.userName = "ann";
    values.password = values.confirmation = "s3c";
    form.presses = {AccountFormValues{}, values};
    values.password = "s3cret!";
    form.presses.push_back(values);
    values.confirmation = values.password;
    values.serverIndex = 2, values.email = "a@b", values.searchable = false;
    form.presses.push_back(values);

    const uint32_t created = creation.createAccount();
    EXPECT_EQ(form.shown, "First hub|Second|Third  hub|");
    EXPECT_EQ(boxes(), (std::vector<std::string>{"You must enter a user name.",
                                                 "Your password must be at least 4 characters long.",
                                                 "Please make sure your password fields match.",
                                                 "Your Account was successfully created."}));
    ASSERT_EQ(created, 1u);
    EXPECT_EQ(list.finish(), "");
    EXPECT_EQ(account.finish(), "");
    EXPECT_EQ(form.calls, "Attempting to get a list of servers...|close|Attempting to create an account...|close|");
    GeneralOptions saved(registry);
    ASSERT_EQ(saved.SetKeyPath("\\Software\\Test"), 1u);
    ASSERT_EQ(saved.Load(), 1u);
    EXPECT_EQ(std::string(saved.GetString(GeneralOptions::kUserName).c_str()) + "|" +
                  saved.GetString(GeneralOptions::kUserPassword).c_str() + "|" +
                  saved.GetString(GeneralOptions::kServerName).c_str(), "ann|s3cret!|Third");
}

} // namespace
} // namespace vp
