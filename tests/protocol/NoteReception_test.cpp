#include "notes/FakeNoteView.h"
#include "notes/NoteStore.h"
#include "protocol/NoteReception.h"
#include "protocol/ProtocolFixture.h"
#include "settings/AwayOptions.h"
#include "settings/NoteOptions.h"
#include "support/AllocationWatch.h"

#include <filesystem>

namespace vp {
namespace {
using namespace test;
namespace fs = std::filesystem;

struct Clock final : platform::TimeSource {
    platform::LocalDateTime localTime() const override { return {2005, 3, 1, 7, 0, 30, 0}; }
    platform::TimeZone timeZone() const override { return {}; }
};
constexpr const char* kStamp = " - 12:30 AM 3/7/5 +0000\r\n";

// The note's window and the desktop, recording what reached them.
struct Desktop final : NoteDesktopPort, QuietNoteView {
    void showArrivedNote(std::unique_ptr<NoteRecord> note) override {
        (held = std::move(note))->setWindow(this);
        log += "show ";
    }
    void deleteNote(NoteRecord&) override { log += "delete "; }
    void setStatusText(const TextString& text) override { status = text.c_str(); }
    TextString statusText() override { return status.c_str(); }
    void labelStatus(const TextString& label) override {
        status = std::string(label.c_str()) + ": " + statusTimePart(status.c_str()).c_str();
    }
    void receivingStarted(TcpSocket&) override { log += "receiving "; }
    void receivingEnded() override { log += "received "; }
    uint32_t hasAttachment() override { return !held->attachmentName.isEmpty(); }
    std::unique_ptr<NoteRecord> held;
    std::string log, status;
};
struct Store final : NoteStorePort {
    void openNote(NoteRecord*) override {}
    void deleteNote(NoteRecord*) override {}
};

std::string payload(const std::string& sender, const std::string& file = "", uint32_t autoReply = 0) {
    const std::string text = "{\\rtf1 Hello}";
    return le32(5) + le32(autoReply) + le32(16) + le32(uint32_t(sender.size())) + le32(uint32_t(text.size())) +
           le32(uint32_t(file.size())) + le32(10) + le32(20) + le32(300) + le32(200) + sender + text + file;
}
std::string request(const std::string& body) {
    return frame(kOwnVersion, 1003, uint32_t(body.size()));
}

class NoteReceptionTest : public ProtocolTest {
protected:
    void SetUp() override {
        ProtocolTest::SetUp();
        for (const char* folder : {"Notes", "Files"}) fs::create_directories(m_dir.native() / folder);
        m_general.SetString(GeneralOptions::kUserName, "carol");
        m_general.SetString(GeneralOptions::kServerName, "Example.org");
        m_away.SetString(AwayOptions::kAutoReplyMsg, "Out to lunch");
        m_options.SetInt(NoteOptions::kShowOnArrival, 0);
        m_list.setDisplayName(m_alice, "Al");
        m_context.notes = &m_receiver;
        m_receiver.setClock(m_clock);
        m_receiver.setSoundPlayer([this](const char*) { m_desktop.log += "sound "; });
    }
    // Alice's state, and her own automatic reply.
    void alice(uint32_t state, uint32_t autoReply = 0, const char* message = "") {
        ContactRecord record;
        ASSERT_EQ(m_list.getContact(m_alice, record), 1u);
        record.setPrivacy(state);
        record.setAutoReply(autoReply);
        record.setAutoReplyMsg(message);
        record.setAllowFiles(1);
        ASSERT_EQ(m_list.setProperties(m_alice, record), 1u);
    }
    uint32_t serve(ScriptedPeer& peer) {
        return play(peer, [](ClientProtocol& p, TcpSocket& s) { return p.HandleRequest(s); });
    }
    std::string boxes(size_t from, std::string all = "") {
        for (const auto& box : m_messages.boxes()) all += from-- > 0 ? "" : box.text + "|";
        return all;
    }
    // The files that arrived beside the one the folder held before.
    std::string arrived() {
        std::string all;
        for (const auto& e : fs::directory_iterator(m_dir.native() / "Files"))
            all += e.path().filename() == "r.txt" ? "" : e.path().filename().string() + "=" + readBytes(e.path());
        return all + (readBytes(m_dir.native() / "Files" / "r.txt") == "mine" ? "" : " r.txt changed");
    }

    Clock m_clock;
    NoteOptions m_options{m_registry};
    AwayOptions m_away{m_registry};
    Desktop m_desktop;
    Store m_storePort;
    NoteStore m_store{m_dir.path().c_str(), m_storePort, &m_options};
    std::string m_replies;
    NoteReceiver m_receiver{{&m_list, &m_general, &m_options, &m_away, &m_sounds, &m_desktop, &m_store,
                             m_dir.path("Files").c_str(), 1000, [this](NoteRecord& reply) {
                                 m_replies.append(reply.content.data(), reply.content.size());
                                 return 1u;
                             }}};
};

// Who may deliver, and what each sender hears back: accepted (""), or the
// reason of the NO; then whether an automatic reply went out and the log.
TEST_F(NoteReceptionTest, DecidesBySenderVisibilityAndAwayMode) {
    const std::string authorization =
        "The receiver's authorization mode is on.  You will need to be on their contact list to communicate with them.";
    const std::string ignored = "This user has refused your communication request.";
    const std::string dotted =
        "Sorry.  You cannot communicate with this user using IP references\nbecause the user you are trying to contact "
        "is currently away.\n\nPlease refer to this user by their username and server.";
    const std::string noFiles =
        "This user is currently away and will not accept file attachments\nat this moment.\n\nPlease re-send this note "
        "without the attachments.";
    const std::string unauthorized =
        "An unauthorized user, 'bob@example.org', has been blocked while attempting to communicate with you.\n\nTo "
        "allow incoming communications from this user, please add them to your contact list or uncheck the "
        "Authorized-Contacts-Only feature from your contact list.";
    const std::string known =
        "A known user, 'alice@example.org (Al) ', has been blocked while attempting to communicate with you.\n\nTo "
        "allow incoming communications from this user, please set their visibility state to \"Default\".";
    enum { None = 9, Default = 0, Away = 1, Ignore = 2 };
    struct Row {
        const char* what;
        uint32_t privacy, state, contactReply;
        const char* contactMessage;
        uint32_t away, custom, allowFiles, incomingReply;
        const char* sender;
        const char* file;
        std::string reason;
        const char* reply;
        std::string log, errorText;
    };
    const Row rows[] = {
        {"privacy, stranger", 1, None, 0, "", 0, 0, 0, 0, "Bob@Example.org", "", authorization, "",
         std::string("bob@example.org") + kStamp, unauthorized},
        {"privacy, contact by bare name", 1, Default, 0, "", 0, 0, 0, 0, "Alice", "", "", "", "", ""},
        {"stranger, away", 0, None, 0, "", 1, 0, 0, 0, "bob@example.org", "", "", "Out to lunch", "", ""},
        {"Away contact's own reply", 0, Away, 1, "Busy", 0, 0, 0, 0, "alice@example.org", "", "", "Busy", "", ""},
        {"Away contact, empty message", 0, Away, 1, "", 0, 0, 0, 0, "alice@example.org", "", "", "Out to lunch", "",
         ""},
        {"away, custom message wins", 0, Away, 1, "Busy", 1, 1, 0, 0, "alice@example.org", "", "", "Busy", "", ""},
        {"away, global message", 0, Away, 1, "Busy", 1, 0, 0, 0, "alice@example.org", "", "", "Out to lunch", "", ""},
        {"ignored contact", 1, Ignore, 0, "", 0, 0, 0, 0, "alice@example.org", "", ignored, "",
         std::string("alice@example.org (Al) ") + kStamp, known},
        {"away, dotted sender", 0, None, 0, "", 1, 0, 1, 0, "10.1.2.3", "", dotted, "", "", dotted},
        {"away, file refused", 0, None, 0, "", 1, 0, 0, 0, "bob@example.org", "a.txt", noFiles, "", "", noFiles},
        {"away, file allowed", 0, None, 0, "", 1, 0, 1, 0, "bob@example.org", "a.txt", "", "Out to lunch", "", ""},
        {"away, an automatic reply", 0, None, 0, "", 1, 0, 0, 1, "bob@example.org", "", "", "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_replies.clear();
        m_options.SetString(NoteOptions::kUnauthorizedList, "");
        m_general.SetInt(GeneralOptions::kEnablePrivacy, row.privacy);
        if (row.state == None)
            m_list.removeContact(m_alice);
        else
            alice(row.state, row.contactReply, row.contactMessage);
        m_away.SetInt(AwayOptions::kAwayMode, row.away),
            m_away.SetInt(AwayOptions::kAutoReplyWithCustomMsg, row.custom),
            m_away.SetInt(AwayOptions::kAutoReplyAllowAttachments, row.allowFiles);
        ScriptedPeer peer;
        const std::string body = payload(row.sender, row.file, row.incomingReply);
        peer.send(request(body)).expect(yes()).send(body);
        if (!row.reason.empty())
            peer.expect(no(row.reason) + no());
        else if (*row.file)
            peer.expect(yes()).send(frame(kOwnVersion, 1, 3) + "abc").expect(yes());
        else
            peer.expect(yes()).send(frame(kOwnVersion, 0, 0)).expect(yes());
        EXPECT_EQ(serve(peer), row.reason.empty() ? 1u : 0u);
        EXPECT_EQ(row.reason.empty() ? "" : m_errorText, row.errorText);
        EXPECT_NE(m_replies.find(row.reply), std::string::npos) << m_replies;
        EXPECT_EQ(m_replies.empty(), !*row.reply);
        EXPECT_EQ(m_options.GetString(NoteOptions::kUnauthorizedList).c_str(), row.log);
        if (row.state == None) {
            m_list.addUserContact("alice", "example.org", 0, 0, m_alice);
            m_list.setDisplayName(m_alice, "Al");
        }
    }
}

// How a note ends after it was accepted: its closing block, or its file.
// Failures leave no file and tell the note's window; the sender of a
// refused ending gets the dispatcher's empty NO.
TEST_F(NoteReceptionTest, EndsWithTheClosingBlockOrTheWholeFile) {
    std::string many;
    for (int i = 0; i < 20000; ++i) many += char('a' + i % 23);
    const std::string newer = frame(0x0014FFEB, 0, 0);
    struct Row {
        const char* what;
        const char* file;
        std::string ending;
        std::string answer;
        uint32_t result;
        const char* errorText;
        std::string files;
    };
    const Row rows[] = {
        {"no file, closed", "", frame(kOwnVersion, 0, 0), yes(), 1, "", ""},
        {"no file, a file announced", "", frame(kOwnVersion, 1, 3), no(), 0, "Sender is out-of-synchronization.", ""},
        {"no file, strange flag", "", frame(kOwnVersion, 7, 0), no(), 0, "Network commnunication is lost", ""},
        {"no file, other version", "", newer, yes(), 1, "Network communication is lost.", ""},
        {"file, none announced", "r.txt", frame(kOwnVersion, 0, 0), no(), 0, "Sender is out-of-synchronization.", ""},
        {"file, strange flag", "r.txt", frame(kOwnVersion, 2, 0), no(), 0, "Network commnunication is lost", ""},
        {"file, other version", "r.txt", newer, no(), 0, "Network communication is lost.", ""},
        {"file shorter than announced", "r.txt", frame(kOwnVersion, 1, 100) + "abc", no(), 0, "", ""},
        {"file, name taken", "r.txt", frame(kOwnVersion, 1, 20000) + many, yes(), 1, "", "r(1).txt=" + many},
        {"file, folders in its name", "..\\..\\x.exe", frame(kOwnVersion, 1, 2) + "ok", yes(), 1, "", "x.exe=ok"},
    };
    m_options.SetInt(NoteOptions::kShowOnArrival, 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(m_dir.native() / "Files");
        fs::create_directories(m_dir.native() / "Files");
        writeBytes(m_dir.native() / "Files" / "r.txt", "mine");
        const size_t before = m_messages.boxCount();
        m_desktop.log.clear();
        ScriptedPeer peer;
        const std::string body = payload("bob@example.org", row.file);
        peer.send(request(body)).expect(yes()).send(body).expect(yes()).send(row.ending).expect(row.answer);
        EXPECT_EQ(serve(peer), row.result);
        EXPECT_EQ(m_errorText, row.errorText);
        EXPECT_EQ(arrived(), row.files);
        EXPECT_EQ(m_desktop.log, "show receiving received ");
        EXPECT_EQ(boxes(before), row.result ? "" : "Did not receive this note completely.|");
        EXPECT_EQ(m_desktop.status,
                  row.result ? "Received: 12:30 AM 3/7/5 +0000" : "Did not receive this note completely.");
        EXPECT_FALSE(fs::exists(m_dir.native() / "x.exe"));
    }
}

// Where an accepted note goes, the notice the user gets and the status the
// note keeps: on the desktop, in the store, or deleted once answered.
TEST_F(NoteReceptionTest, ShowsStoresOrDeletesTheArrivedNote) {
    struct Row {
        const char* what;
        uint32_t show;
        bool desktop;
        uint32_t away, andDelete, incomingReply, delivered;
        const char* log;
        uint32_t newNotes;
        const char* notice;
        const char* status;
    };
    const Row rows[] = {
        {"stored", 0, true, 0, 0, 0, 1, "sound ", 1,
         "You have received a note from 'bob@example.org'.\nPlease check for new note.|", ""},
        {"stored, answered", 0, true, 1, 0, 0, 1, "sound ", 1,
         "You have received a note from 'bob@example.org'.\nA reply was sent. Please check for new note.|", ""},
        {"stored, a reply", 0, true, 0, 0, 1, 1, "sound ", 1,
         "You have received a reply from 'bob@example.org'.\nPlease check for new note.|", ""},
        {"no desktop: stored", 1, false, 0, 0, 0, 1, "sound ", 1,
         "You have received a note from 'bob@example.org'.\nPlease check for new note.|", ""},
        {"shown", 1, true, 0, 0, 0, 1, "show sound receiving received ", 0,
         "You have received a note from 'bob@example.org'.|", "Received: 12:30 AM 3/7/5 +0000"},
        {"shown, a reply", 1, true, 0, 0, 1, 1, "show sound receiving received ", 0,
         "You have received a reply from 'bob@example.org'.|", "Received (via auto-reply): 12:30 AM 3/7/5 +0000"},
        {"shown, answered", 1, true, 1, 0, 0, 1, "show sound receiving received ", 0,
         "You have received a note from 'bob@example.org'.|", "Auto-replied: 12:30 AM 3/7/5 +0000"},
        {"shown, answered and deleted", 1, true, 1, 1, 0, 1, "show sound receiving received delete ", 0,
         "You have been contacted by 'bob@example.org', a reply was sent.\nThe note was deleted as per your request.|",
         "Auto-replied: 12:30 AM 3/7/5 +0000"},
        {"answered and deleted unseen", 0, true, 1, 1, 0, 1, "", 0,
         "You have been contacted by 'bob@example.org', a reply was sent.\nThe note was deleted as per your request.|",
         ""},
        {"shown, reply not delivered", 1, true, 1, 1, 0, 0, "show sound receiving received ", 0,
         "You have received a note from 'bob@example.org'.|",
         "Received (could not auto-reply this note): 12:30 AM 3/7/5 +0000"},
    };
    m_options.SetInt(NoteOptions::kPromptOnArrival, 1);
    m_sounds.SetInt(SoundOptions::kPlayOnNoteArrived, 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const size_t before = m_messages.boxCount();
        m_desktop.log.clear();
        m_desktop.status.clear();
        m_options.SetInt(NoteOptions::kNewNotesAvailable, 0);
        m_options.SetInt(NoteOptions::kShowOnArrival, row.show);
        m_away.SetInt(AwayOptions::kAwayMode, row.away);
        m_away.SetInt(AwayOptions::kAutoReplyAndDelete, row.andDelete);
        NoteReceiver receiver({&m_list, &m_general, &m_options, &m_away, &m_sounds, row.desktop ? &m_desktop : nullptr,
                               &m_store, m_dir.path("Files").c_str(), 1000,
                               [&](NoteRecord&) { return row.delivered; }});
        receiver.setClock(m_clock);
        receiver.setSoundPlayer([this](const char*) { m_desktop.log += "sound "; });
        m_context.notes = &receiver;
        ScriptedPeer peer;
        const std::string body = payload("bob@example.org", "", row.incomingReply);
        peer.send(request(body)).expect(yes()).send(body).expect(yes()).send(frame(kOwnVersion, 0, 0)).expect(yes());
        EXPECT_EQ(serve(peer), 1u);
        EXPECT_EQ(m_desktop.log, row.log);
        EXPECT_EQ(m_options.GetInt(NoteOptions::kNewNotesAvailable), row.newNotes);
        EXPECT_EQ(boxes(before), row.notice);
        EXPECT_EQ(m_desktop.status, row.status);
    }
}

// The refusal log starts again once it has grown past 8000 characters.
TEST_F(NoteReceptionTest, RefusalLogStartsAgainPast8000Characters) {
    for (const uint32_t length : {8000u, 8001u}) {
        m_options.SetString(NoteOptions::kUnauthorizedList, std::string(length, 'x').c_str());
        m_receiver.LogRefusal("bob@example.org");
        EXPECT_EQ(m_options.GetString(NoteOptions::kUnauthorizedList).c_str(),
                  (length == 8000 ? std::string(8000, 'x') : "") + "bob@example.org" + kStamp);
    }
}

// A payload longer than any note is refused before it is accepted or held.
TEST_F(NoteReceptionTest, RefusesAnOversizedPayloadUnread) {
    AllocationWatch watch;
    ScriptedPeer peer;
    peer.send(frame(kOwnVersion, 1003, wire::kMaxPayloadLength + 1)).expect(no());
    EXPECT_EQ(serve(peer), 0u);
    EXPECT_LT(watch.largest(), 1024u * 1024u);
}

}  // namespace
}  // namespace vp
