#include "services/AddContact.h"

#include "contacts/ContactList.h"
#include "foundation/ThreadLib.h"
#include "platform/MemoryRegistry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vp {
namespace {

TEST(AddContactRequest, ReadsUserAndServerFromTheRequestLine) {
    struct Row { const char* request; uint32_t result; const char* user; const char* server; };
    const Row rows[] = {
        {"GET /Ann%20Lee@MainHub HTTP/1.0\r\nHost: x\r\n\r\n", 1, "Ann Lee", "MainHub"},
        {"GET /a%2Fb@c%20%20d@e HTTP/1.1\r\n\r\n", 1, "a%2Fb", "c  d@e"},
        {"GET /a@b\r\nUser-Agent: HTTP\r\n\r\n", 0, "", ""},
        {"GET HTTP\r\n\r\n", 0, "", ""},
    };
    for (const Row& row : rows) {
        TextString user, server;
        EXPECT_EQ(parseAddContactRequest(row.request, user, server), row.result) << row.request;
        EXPECT_EQ(std::string(user.c_str()) + "|" + server.c_str(), std::string(row.user) + "|" + row.server);
    }
}

const std::string kHead = "<HTML><HEAD><TITLE>Vellumpost: Add a Contact</TITLE></HEAD><BODY BGCOLOR=\"#AAB9E3\">"
                          "<H2>Vellumpost: Add a Contact</H2><HR>";
const std::string kTable = kHead + "<TABLE BORDER=2><TR BGCOLOR=\"#8C9FD9\"><TD><FONT=+2>Name</FONT></TD>"
                                   "<TD>Server</TD><TR><TD>Ann Lee</TD><TD>MainHub</TD></TR></TABLE><BR><H3>";
const std::string kAdded = kTable + "Has been added to your contact list!</H3><HR></BODY><HTML>";
const std::string kAlready = kTable + "Is already in your contact list!</H3><HR></BODY><HTML>";
const std::string kInvalid = kHead + "An invalid input has received: \"MainHub\"</BODY></HTML>";

std::string response(const std::string& page) {
    return "HTTP/1.0 200\nServer: Vellumpost\nContent-type: text/html\nContent-length: " +
           std::to_string(page.size()) + "\n\n" + page + "\r\n";
}

struct ShownContacts : ContactWindowPort {
    void showContact(ContactHandle handle) override { shown.push_back(handle); }
    std::vector<ContactHandle> shown;
};

TEST(ServeAddContact, AnswersLocalRequestsOverLoopback) {
    ASSERT_NE(ThreadLib::init(), 0u);
    test::TempDir dir;
    platform::MemoryRegistry registry;
    GeneralOptions general(registry);
    SoundOptions sounds(registry);
    ContactList contacts(dir.path().c_str(), sounds, general);
    ASSERT_EQ(contacts.start(), 1u);
    ShownContacts window;
    TcpSocket listener;
    ASSERT_EQ(listener.Bind(0, "127.0.0.1"), 1u);
    ASSERT_EQ(listener.Listen(), 1u);

    struct Row { const char* from; std::string request; uint32_t result; std::string answer; };
    const Row rows[] = {
        {"127.0.0.1", "GET /Ann%20Lee@MainHub HTTP/1.0\r\n\r\n", 1, response(kAdded)},
        {"127.0.0.1", "GET /Ann%20Lee@MainHub HTTP/1.0\r\n\r\n", 1, response(kAlready)},
        {"127.0.0.1", "GET /@MainHub HTTP/1.0\r\n\r\n", 1, response(kInvalid)},
        {"127.0.0.1", "GET /%20@MainHub HTTP/1.0\r\n\r\n", 1,
         response(kHead + "An invalid input has received: \" MainHub\"</BODY></HTML>")},
        {"127.0.0.2", "GET /Cy@MainHub HTTP/1.0\r\n\r\n", 0, ""},
        {"127.0.0.1", "GET /Di@MainHub HTTP/1.0\r\n" + std::string(2048 - 26, 'x'), 1, ""},
    };
    for (const Row& row : rows) {
        std::string answer;
        std::thread browser([&] {
            TcpSocket client;
            client.Bind(0, row.from);
            if (client.Connect("127.0.0.1", listener.LocalPort()) != 1) return;
            client.Send(row.request.data(), static_cast<uint32_t>(row.request.size()));
            char buffer[4096];
            while (uint32_t count = client.RecvTimed(buffer, sizeof buffer, 10)) answer.append(buffer, count);
        });
        TcpSocket accepted = listener.Accept();
        EXPECT_EQ(serveAddContact(accepted, &contacts, &window), row.result) << row.request;
        browser.join();
        EXPECT_EQ(answer, row.answer) << row.request;
    }
    // The refused requests added nobody.
    ContactHandle ann = 0;
    for (const char* key : {"cy@mainhub", "di@mainhub"})
        EXPECT_EQ(contacts.findContact(key, ann), 0u) << key;
    ASSERT_EQ(contacts.findContact("ann lee@mainhub", ann), 1u);
    TextString name;
    ASSERT_EQ(contacts.getDisplayName(ann, name), 1u);
    EXPECT_STREQ(name.c_str(), "ann lee@mainhub");
    EXPECT_EQ(window.shown, (std::vector<ContactHandle>{ann, ann}));
    contacts.stop();
    ThreadLib::shutdown();
}

} // namespace
} // namespace vp
