#include "RunProgram.h"
#include "ServerFixture.h"

namespace vp::test {
namespace {

std::string storedNote(const std::string& text) { return le32(static_cast<uint32_t>(text.size())) + text; }

// Leaving a note of blockLength bytes for the receiver text: the server's
// reply after the payload, then (when a block is given) the block and the
// final reply.
std::vector<Step> leaveSteps(const std::string& receiver, uint32_t blockLength, const std::string& afterPayload,
                             const std::string& block = "", const std::string& afterBlock = "") {
    const std::string user = receiver.substr(0, receiver.find('@'));
    const std::string payload = le32(static_cast<uint32_t>(user.size())) + le32(blockLength) + user +
                                std::string(receiver.size() - user.size(), '\0');
    std::vector<Step> steps = {{Step::Send, frame(kOwnVersion, 1014, static_cast<uint32_t>(payload.size()))},
                               {Step::Expect, yes()}, {Step::Send, payload}, {Step::Expect, afterPayload}};
    if (!block.empty()) steps.insert(steps.end(), {{Step::Send, block}, {Step::Expect, afterBlock}});
    return steps;
}

std::vector<Step> leaveNote(const std::string& receiver, const std::string& text) {
    const std::string block = storedNote(text);
    return leaveSteps(receiver, static_cast<uint32_t>(block.size()), yes(), block, yes());
}

// A whole download of the notes block; with none, the announcement says 0
// bytes, the client answers NO and the final YES follows.
std::vector<Step> downloadSteps(const std::string& user, const std::string& password, const std::string& notes) {
    const std::string payload =
        le32(static_cast<uint32_t>(user.size())) + le32(static_cast<uint32_t>(password.size())) + user + password;
    std::vector<Step> steps = {{Step::Send, frame(kOwnVersion, 1015, static_cast<uint32_t>(payload.size()))},
                               {Step::Expect, yes()}, {Step::Send, payload}};
    if (notes.empty()) {
        steps.insert(steps.end(), {{Step::Expect, frame(kOwnVersion, 1, 0)}, {Step::Send, no()}, {Step::Expect, yes()}});
        return steps;
    }
    steps.insert(steps.end(), {{Step::Expect, frame(kOwnVersion, 1, static_cast<uint32_t>(notes.size()))},
                               {Step::Send, yes()}, {Step::Expect, notes}, {Step::Send, yes()}, {Step::Expect, yes()}});
    return steps;
}

class StoredNotesTest : public ServerTest {
protected:
    // Plays the first count steps on a connection of their own.
    std::string playNew(const std::vector<Step>& steps, size_t count = SIZE_MAX) {
        TcpSocket socket;
        if (socket.Connect(m_host.c_str(), m_port) != 1) return "no connection";
        return play(socket, {steps.begin(), steps.begin() + static_cast<long>(std::min(count, steps.size()))});
    }
};

TEST_F(StoredNotesTest, ANoteIsKeptForARegisteredUserWithinTheQuota) {
    m_config.noteQuotaBytes = 40;
    startServer();
    const std::string quota = no("There is no more room on this server for notes to ann@mainhub. Please try again later.");
    const std::string malformed = no("The server could not read this request.");
    const struct {
        const char* what;
        std::vector<Step> steps;
    } rows[] = {
        {"a note for ann@mainhub", leaveNote("ann@mainhub", "first note")},
        {"a note for Ann", leaveNote("Ann", "second")},
        {"a note past what ann has left", leaveSteps("ann", 20, yes(), storedNote(std::string(16, 'x')), quota)},
        {"a note longer than the quota", leaveSteps("ann", 41, quota)},
        {"a note longer than any", leaveSteps("ann", (16u << 20) + 1, no("This note is too long to be left on the server."))},
        {"a note for nobody", leaveSteps("dave@mainhub", 10, no("No user named dave@mainhub is registered here."))},
        {"a name past the payload's end",
         {{Step::Send, frame(kOwnVersion, 1014, 11)}, {Step::Expect, yes()}, {Step::Send, le32(4) + le32(8) + "ann"},
          {Step::Expect, malformed}}},
        {"a block whose length word is not its own", leaveSteps("ann", 8, yes(), le32(5) + "abcd", malformed)},
    };
    for (const auto& row : rows) EXPECT_EQ(playNew(row.steps), "") << row.what;
    EXPECT_EQ(playNew(downloadSteps("ann", "ann-pw", storedNote("first note") + storedNote("second"))), "");
}

// Cut after the announcement, then after the block: every note stays. A
// note left while a download runs is not among those it deletes, and notes
// beyond one block's bound stay for the next download.
TEST_F(StoredNotesTest, ADownloadCutAnywhereLeavesTheNotes) {
    startServer();
    ASSERT_EQ(playNew(leaveNote("bob", "one")), "");
    ASSERT_EQ(playNew(leaveNote("bob", "two")), "");
    const auto both = downloadSteps("bob", "bob-pw", storedNote("one") + storedNote("two"));
    EXPECT_EQ(playNew(both, 4), "");
    EXPECT_EQ(playNew(both, 6), "");
    TcpSocket downloading;
    ASSERT_EQ(downloading.Connect(m_host.c_str(), m_port), 1u);
    ASSERT_EQ(play(downloading, {both.begin(), both.begin() + 6}), "");
    ASSERT_EQ(playNew(leaveNote("bob", "three")), "");
    EXPECT_EQ(play(downloading, {both.begin() + 6, both.end()}), "");
    EXPECT_EQ(playNew(downloadSteps("bob", "bob-pw", storedNote("three"))), "");
    EXPECT_EQ(playNew(downloadSteps("bob", "bob-pw", "")), "");
    // Notes past what one download may carry wait for the next one.
    const std::string large(9 << 20, 'l'), larger((9 << 20) + 1, 'L');
    ASSERT_EQ(playNew(leaveNote("bob", large)), "");
    ASSERT_EQ(playNew(leaveNote("bob", larger)), "");
    EXPECT_EQ(playNew(downloadSteps("bob", "bob-pw", storedNote(large))), "");
    EXPECT_EQ(playNew(downloadSteps("bob", "bob-pw", storedNote(larger))), "");
    auto wrongPassword = downloadSteps("bob", "ann-pw", "");
    wrongPassword.resize(3);
    wrongPassword.push_back({Step::Expect, no("The user name or the password is not right.")});
    EXPECT_EQ(playNew(wrongPassword), "");
}

TEST_F(StoredNotesTest, NotesOutliveTheProgramStoppedOrKilled) {
    for (const int signal : {SIGTERM, SIGKILL}) {
        const std::string text = signal == SIGKILL ? "kept through a kill" : "kept through a stop";
        ServerProcess first(m_dir.native(), m_host);
        m_port = first.port();
        ASSERT_EQ(playNew(leaveNote("carol", text)), "");
        first.stop(signal);
        ServerProcess second(m_dir.native(), m_host);
        m_port = second.port();
        EXPECT_EQ(playNew(downloadSteps("carol", "carol-pw", storedNote(text))), "") << text;
    }
}

} // namespace
} // namespace vp::test
