#include "contacts/ContactList.h"

#include "contacts/ContactBytes.h"
#include "contacts/ContactTreeText.h"
#include "foundation/ThreadLib.h"
#include "platform/MemoryRegistry.h"
#include "support/Bytes.h"
#include "support/ScriptedMessages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace vp {
namespace {

// One event as the tests compare it: the code and its fields, numbers as
// decimal, texts as they are.
std::string describe(const QueuedEvent& event) {
    std::string text = std::to_string(event.code);
    for (uint32_t i = 0; i < event.fields.count(); ++i) {
        const ByteBuffer& field = event.fields.field(i);
        const bool textField = (event.code == ContactAdded && i == 4) || (event.code == DisplayNameChanged && i == 1) ||
                               (event.code == ContactStatusChanged && i == 3);
        text += " ";
        if (textField) text += std::string(reinterpret_cast<const char*>(field.data()), field.size());
        else text += std::to_string(static_cast<int32_t>(numberOf(field)));
    }
    return text;
}

class RecordingObserver : public Observer {
public:
    uint32_t update(Subject&, std::uintptr_t argument) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(describe(*reinterpret_cast<const QueuedEvent*>(argument)));
        return 1;
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::exchange(m_events, {});
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_events;
};

class RecordingPort : public ServerRequestPort {
public:
    uint32_t postServerRequest(std::unique_ptr<ServerRequest>& request) override {
        if (m_refuseAfter == 0) return 0;
        --m_refuseAfter;
        m_requests.push_back(std::move(request));
        return 1;
    }
    uint32_t m_refuseAfter = 100;
    std::vector<std::unique_ptr<ServerRequest>> m_requests;
};

class ContactListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(ThreadLib::init(), 0u);
        std::filesystem::create_directories(m_dir.native() / "Contacts");
        // An empty list, so the model starts without the samples.
        test::writeBytes(m_dir.native() / "Contacts" / "List.anc", test::kSignatureItem + test::numberItem(300));
        m_general.SetString(GeneralOptions::kUserName, "me");
        m_general.SetString(GeneralOptions::kServerName, "home");
        m_sounds.SetInt(SoundOptions::kPlayOnContactConnected, 1);
        m_sounds.SetInt(SoundOptions::kPlayOnContactDisconnected, 0);
        m_sounds.SetString(SoundOptions::kContactConnectedSound, "C:\\sounds\\in.wav");
        m_list.setSoundPlayer([this](const char* path) { m_played.push_back(path); });
        m_list.subject().attach(&m_observer);
        ASSERT_EQ(m_list.start(), 1u);
    }
    void TearDown() override {
        m_list.stop();
        ThreadLib::shutdown();
    }

    ContactHandle user(const char* name, ContactHandle parent = 0, ContactHandle after = 0) {
        ContactHandle handle = 0;
        EXPECT_EQ(m_list.addNamedContact(name, "host", name, parent, after, handle), 1u) << name;
        return handle;
    }
    ContactHandle group(const char* name, ContactHandle parent = 0, ContactHandle after = 0) {
        ContactHandle handle = 0;
        EXPECT_EQ(m_list.addGroup(name, parent, after, handle), 1u) << name;
        return handle;
    }

    test::TempDir m_dir;
    test::ScriptedMessages m_messages;
    test::ScopedMessageService m_scoped{m_messages};
    platform::MemoryRegistry m_registry;
    GeneralOptions m_general{m_registry};
    SoundOptions m_sounds{m_registry};
    RecordingPort m_port;
    RecordingObserver m_observer;
    std::vector<std::string> m_played;
    ContactList m_list{m_dir.path().c_str(), m_sounds, m_general, &m_port};
};

TEST_F(ContactListTest, AddsAtTheirPlacesAndRefusesDuplicateUsers) {
    ContactHandle ann = 0;
    ASSERT_EQ(m_list.addUserContact(" Ann  Lee", "Host ", 0, 0, ann), 1u);
    ContactHandle again = 0;
    EXPECT_EQ(m_list.addUserContact("ANN LEE", " host", 0, 0, again), 0u);
    TextString text;
    ASSERT_EQ(m_list.getUserName(ann, text), 1u);
    EXPECT_STREQ(text.c_str(), "ann lee");
    ASSERT_EQ(m_list.getServerName(ann, text), 1u);
    EXPECT_STREQ(text.c_str(), "host");
    ASSERT_EQ(m_list.getDisplayName(ann, text), 1u);
    EXPECT_STREQ(text.c_str(), " Ann  Lee@Host ");
    ContactHandle found = 0;
    EXPECT_EQ(m_list.findContactByName(" Ann Lee ", "HOST", found), 1u);
    EXPECT_EQ(found, ann);
    EXPECT_EQ(m_list.findContactByName("", "host", found), 0u);

    const ContactHandle g1 = group("Same");
    const ContactHandle g2 = group("Same");
    const ContactHandle g3 = group("Same");
    EXPECT_NE(g1, g2);
    EXPECT_NE(g2, g3);
    EXPECT_EQ(m_list.findContact("@", found), 0u);

    const ContactHandle a = user("a", g1, 0);
    const ContactHandle b = user("b", g1, g1);
    user("c", g1, 0);
    const ContactHandle d = user("d", 0, a);
    EXPECT_EQ(test::treeText(m_list), " Ann  Lee@Host ,Same(c,a,d,b),Same(),Same()");
    EXPECT_EQ(m_list.addNamedContact("e", "host", "e", a, 0, found), 0u);  // a user contact holds no entries
    EXPECT_EQ(m_list.addNamedContact("e", "host", "e", 0, 999, found), 0u);

    const auto events = m_observer.take();
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[0], "1 " + std::to_string(ann) + " 0 0 0  Ann  Lee@Host ");
    EXPECT_EQ(events[3], "1 " + std::to_string(g3) + " 0 3 1 Same");
    EXPECT_EQ(events[5], "1 " + std::to_string(b) + " " + std::to_string(g1) + " 1 0 b");
    EXPECT_EQ(events[7], "1 " + std::to_string(d) + " " + std::to_string(g1) + " 2 0 d");
}

TEST_F(ContactListTest, MovesRefusingUsersAsParentsAndCycles) {
    const ContactHandle outer = group("outer");
    const ContactHandle inner = group("inner", outer, 0);
    const ContactHandle p = user("p");
    const ContactHandle q = user("q");
    m_observer.take();

    EXPECT_EQ(m_list.moveContact(q, p, 0), 0u);
    EXPECT_EQ(m_list.moveContact(outer, inner, 0), 0u);
    EXPECT_EQ(m_list.moveContact(outer, outer, 0), 0u);
    EXPECT_EQ(m_list.moveContact(q, 0, p), 0u);  // already right after p
    EXPECT_EQ(m_list.moveContact(999, 0, 0), 0u);
    EXPECT_TRUE(m_observer.take().empty());

    EXPECT_EQ(m_list.moveContact(p, outer, outer), 1u);  // last of outer, after inner (index 0)
    EXPECT_EQ(m_list.moveContact(q, outer, 0), 1u);      // first of outer
    EXPECT_EQ(m_list.moveContact(inner, outer, p), 1u);  // after p, which is at 2
    EXPECT_EQ(test::treeText(m_list), "outer(q,p,inner())");
    const std::string o = std::to_string(outer);
    EXPECT_EQ(m_observer.take(), (std::vector<std::string>{"6 " + std::to_string(p) + " " + o + " 0",
                                                           "6 " + std::to_string(q) + " " + o + " -1",
                                                           "6 " + std::to_string(inner) + " " + o + " 2"}));

    // Removal goes deepest first: the group's entries, then the group.
    const ContactHandle inside = user("inside", inner, 0);
    m_observer.take();
    EXPECT_EQ(m_list.removeContact(outer), 1u);
    EXPECT_EQ(m_observer.take(), (std::vector<std::string>{
                                     "2 " + std::to_string(q), "2 " + std::to_string(p),
                                     "2 " + std::to_string(inside), "2 " + std::to_string(inner), "2 " + o}));
    EXPECT_EQ(m_list.removeContact(outer), 0u);
    TextString text;
    EXPECT_EQ(m_list.getUserName(p, text), 0u);
    ContactHandle found = 0;
    EXPECT_EQ(m_list.findContactByName("q", "host", found), 0u);
    user("q");  // the name is free again

    // Entries without a name key may share a key text: the oldest is found,
    // then the next.
    ContactHandle first = 0;
    ContactHandle second = 0;
    ASSERT_EQ(m_list.addNamedContact("bob", "", "1", 0, 0, first) + m_list.addNamedContact("bob", " ", "2", 0, 0, second), 2u);
    for (const ContactHandle next : {first, second}) {
        ASSERT_EQ(m_list.findContact("bob@", found), 1u);
        EXPECT_EQ(found, next);
        EXPECT_EQ(m_list.removeContact(next), 1u);
    }
    EXPECT_EQ(m_list.findContact("bob@", found), 0u);
}

TEST_F(ContactListTest, PositionsOfEntriesAddedInARowFollowRemovalsAndMoves) {
    const ContactHandle a = user("a");
    const ContactHandle b = user("b", 0, a);
    const ContactHandle c = user("c", 0, b);
    EXPECT_EQ(m_list.removeContact(a), 1u);
    const ContactHandle d = user("d", 0, c);
    const ContactHandle g = group("g", 0, d);
    EXPECT_EQ(m_list.moveContact(c, g, 0), 1u);
    user("e", 0, g);
    std::string positions;
    for (const std::string& event : m_observer.take()) {
        std::istringstream fields(event);
        uint32_t code = 0, handle = 0, parent = 0, position = 0;
        fields >> code >> handle >> parent >> position;
        if (code == ContactAdded) positions += std::to_string(position);
    }
    EXPECT_EQ(positions, "012233");
}

TEST_F(ContactListTest, PresenceSoundsAndReceptionInfo) {
    const ContactHandle ann = user("ann");
    const ContactHandle crew = group("crew");
    m_observer.take();

    EXPECT_EQ(m_list.setOnline(ann, 1, "10.0.0.7"), 1u);
    EXPECT_EQ(m_list.setOnline(ann, 0, "elsewhere"), 1u);
    uint32_t online = 9;
    TextString address;
    ASSERT_EQ(m_list.getPresence(ann, online, address), 1u);
    EXPECT_EQ(online, 0u);
    EXPECT_STREQ(address.c_str(), "10.0.0.7");
    EXPECT_EQ(m_played, (std::vector<std::string>{"C:\\sounds\\in.wav"}));

    uint32_t autoReply = 9, withInclude = 9, allowFiles = 9, fourth = 9;
    TextString reply;
    ASSERT_EQ(m_list.getReceptionInfo(ann, autoReply, withInclude, allowFiles, fourth, reply), 1u);
    EXPECT_EQ(autoReply, 0u);  // "Default": the global settings decide
    EXPECT_EQ(withInclude + allowFiles + fourth, 2u);
    EXPECT_EQ(m_list.setVisibility(ann, kPrivacyAway), 1u);
    ASSERT_EQ(m_list.getReceptionInfo(ann, autoReply, withInclude, allowFiles, fourth, reply), 1u);
    EXPECT_EQ(autoReply, 1u);
    uint32_t state = 9;
    TextString refusal;
    ASSERT_EQ(m_list.getRefusal(ann, state, refusal), 1u);
    EXPECT_EQ(state, kPrivacyAway);
    EXPECT_STREQ(refusal.c_str(), "This user has refused your communication request.");

    EXPECT_EQ(m_list.setAllOffline(), 1u);
    const std::string a = std::to_string(ann);
    EXPECT_EQ(m_observer.take(), (std::vector<std::string>{"3 " + a + " 1 0 10.0.0.7", "3 " + a + " 0 0 elsewhere",
                                                           "3 " + a + " 0 1 10.0.0.7", "3 " + a + " 0 1 "}));
    EXPECT_EQ(m_list.setOnline(crew + 100, 1, "x"), 0u);

    EXPECT_EQ(m_list.queryAllPresence(), 1u);
    ASSERT_EQ(m_port.m_requests.size(), 1u);
    const ServerRequest& query = *m_port.m_requests[0];
    EXPECT_STREQ(query.userName.c_str(), "me");
    EXPECT_STREQ(query.serverName.c_str(), "home");
    EXPECT_STREQ(query.receiverUserName.c_str(), "ann");
    EXPECT_STREQ(query.receiverServerName.c_str(), "host");
    EXPECT_EQ(query.type, 1017u);
    EXPECT_EQ(query.flags, 1u);
    EXPECT_EQ(m_list.queryPresence(crew), 0u);
    m_port.m_refuseAfter = 0;
    EXPECT_EQ(m_list.queryPresence(ann), 0u);
    EXPECT_EQ(m_list.queryAllPresence(), 0u);
}

TEST_F(ContactListTest, OneRecordRequestsAnnounceTheirChangesAndRefuseAMissingHandle) {
    const ContactHandle crew = group("crew");
    const ContactHandle ann = user("ann", crew, 0);
    m_observer.take();
    ContactRecord properties;
    properties.setDisplayName("Annie");
    properties.setComments("met at work");
    EXPECT_EQ(m_list.setDisplayName(ann, "Ann L"), 1u);
    EXPECT_EQ(m_list.setProperties(ann, properties), 1u);
    EXPECT_EQ(m_list.setGroupExpanded(crew, 1), 1u);
    const std::string a = std::to_string(ann);
    EXPECT_EQ(m_observer.take(), (std::vector<std::string>{"5 " + a + " Ann L", "5 " + a + " Annie",
                                                           "4 " + std::to_string(crew) + " 1"}));
    ContactRecord record;
    TextString text;
    uint32_t flags[3] = {9, 9, 9};
    ASSERT_EQ(m_list.getContact(ann, record) + m_list.getServerName(ann, text) + m_list.isGroup(ann, flags[0]) +
                  m_list.isGroup(crew, flags[1]) + m_list.isGroupExpanded(crew, flags[2]),
              5u);
    EXPECT_STREQ(record.getComments().c_str(), "met at work");
    EXPECT_STREQ(text.c_str(), "host");
    EXPECT_EQ(flags[0] * 100 + flags[1] * 10 + flags[2], 11u);

    const ContactHandle gone = ann + 100;
    const std::pair<const char*, std::function<uint32_t()>> refused[] = {
        {"setProperties", [&] { return m_list.setProperties(gone, properties); }},
        {"setGroupExpanded", [&] { return m_list.setGroupExpanded(gone, 1); }},
        {"setVisibility", [&] { return m_list.setVisibility(gone, 1); }},
        {"getContact", [&] { return m_list.getContact(gone, record); }},
    };
    for (const auto& [name, request] : refused) EXPECT_EQ(request(), 0u) << name;
    EXPECT_TRUE(m_observer.take().empty());
}

TEST_F(ContactListTest, EveryEventOfManyPostersArrivesOnceInOrder) {
    constexpr int kThreads = 4;
    constexpr int kEach = 15;
    std::atomic<int> failures{0};
    Semaphore done{0, kThreads};
    for (int t = 0; t < kThreads; ++t) {
        const uint32_t id = ThreadLib::createThread([this, t, &failures, &done] {
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "t" + std::to_string(t) + "n" + std::to_string(i);
                ContactHandle handle = 0;
                ContactHandle found = 0;
                if (!m_list.addNamedContact(name.c_str(), "host", name.c_str(), 0, 0, handle) ||
                    !m_list.findContactByName(name.c_str(), "host", found) || found != handle ||
                    !m_list.setOnline(handle, 1, name.c_str()))
                    ++failures;
            }
            done.release();
            return 0u;
        });
        ASSERT_EQ(ThreadLib::resume(id), 1u);
    }
    for (int t = 0; t < kThreads; ++t) ASSERT_EQ(done.waitTimed(30000), 1u);
    EXPECT_EQ(failures.load(), 0);

    // Each poster's adds and status changes arrive in the order it made them.
    const auto events = m_observer.take();
    ASSERT_EQ(events.size(), static_cast<size_t>(2 * kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    std::vector<bool> added(kThreads, false);
    for (const std::string& event : events) {
        const size_t at = event.rfind(' ');
        const std::string name = event.substr(at + 1);
        const int thread = std::stoi(name.substr(1, name.find('n') - 1));
        const int index = std::stoi(name.substr(name.find('n') + 1));
        ASSERT_EQ(index, next[thread]) << event;
        if (event[0] == '1') {
            ASSERT_FALSE(added[thread]) << event;
            added[thread] = true;
        } else {
            ASSERT_TRUE(added[thread]) << event;
            added[thread] = false;
            ++next[thread];
        }
    }
}

TEST_F(ContactListTest, StopSavesAndStartLoads) {
    const ContactHandle g = group("G");
    user("q", g, 0);
    m_list.stop();
    m_observer.take();
    ASSERT_EQ(m_list.start(), 1u);
    const auto events = m_observer.take();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].substr(events[1].size() - 2), " q");
    EXPECT_EQ(m_messages.boxCount(), 0u);
}

} // namespace
} // namespace vp
