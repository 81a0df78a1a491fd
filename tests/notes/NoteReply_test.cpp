#include "notes/NoteRecord.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vp {
namespace {

std::string text(const ContentBuffer& value) {
    return std::string(value.data() ? value.data() : "", value.size());
}

void setContent(NoteRecord& note, const std::string& rtf) {
    note.content.assign(rtf.data(), static_cast<uint32_t>(rtf.size()));
}

const char kThreeParagraphs[] = R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\pard\plain First line\par Second line\par Third})";

class NoteReplyTest : public ::testing::Test {
protected:
    void SetUp() override { NoteList::instance().resetCascade({1024, 768}); }
};

TEST_F(NoteReplyTest, QuotesEveryParagraphUnderAHeader) {
    const struct {
        const char* what;
        const char* peer;
        const char* status;
        const char* attachment;
        const char* content;
        const char* reply;
    } cases[] = {
        {"three paragraphs", "ann@example.com", "Received: 09:05 AM 12/6/26 +0000", "", kThreeParagraphs,
         "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\pard\\plain "
         "{\n\\par \n\\par At 09:05 AM 12/6/26 +0000, ann wrote:\\par }"
         ">First line\\par >Second line\\par >Third\\par }"},
        // No "}" after the text: the rest is taken to the end and no "\par }"
        // closes it.
        {"no closing brace, no time, an attachment", "bob", "Ready", "plan.doc", R"({\pard Only\par last)",
         "{\\pard {\n\\par \n\\par At {\\i sometime ago}, bob wrote:\\par }>Only\\par >last"
         "Attachment Arrived As: \"plan.doc\""},
        {"without \\pard only the header and the mark", "10.0.0.7", "Ready", "", R"({\rtf1 plain text\par })",
         "{\n\\par \n\\par At {\\i sometime ago}, 10.0.0.7 wrote:\\par }>"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        NoteRecord source{TextString(each.peer)};
        source.status = each.status;
        source.attachmentName = each.attachment;
        setContent(source, each.content);
        NoteRecord reply;
        ASSERT_EQ(reply.ComposeReply(source), 1u);
        EXPECT_EQ(text(reply.content), each.reply);
    }
}

TEST_F(NoteReplyTest, ReplyAndCentreTakeTheSourceFlagsAndStartAfresh) {
    // Only the quoting header drops the server from the name.
    NoteRecord source(TextString("ann@example.com"));
    source.reserved1 = 3;
    source.reserved2 = 4;
    source.alwaysOnTop = 1;
    source.received = 1;
    for (const bool centred : {false, true}) {
        SCOPED_TRACE(centred ? "centred" : "reply");
        NoteRecord note;
        note.attachmentName = "x.txt";
        note.status = "Sent: whenever";
        note.received = 1;
        if (centred) {
            note.Center(source);
        } else {
            ASSERT_EQ(note.ComposeReply(source), 1u);
        }
        EXPECT_EQ(note.reserved1, 3u);
        EXPECT_EQ(note.reserved2, 4u);
        EXPECT_EQ(note.alwaysOnTop, 1u);
        EXPECT_EQ(note.received, 0u);
        EXPECT_EQ(std::string(note.peerName.c_str()), "ann@example.com");
        EXPECT_EQ(std::string(note.attachmentName.c_str()), "");
        EXPECT_EQ(std::string(note.status.c_str()), "Ready");
    }
}

// The centre was taken in unsigned arithmetic but the size was added to it in
// signed 32-bit, which overflowed for a note wider or taller than the screen.
TEST_F(NoteReplyTest, PlacementWrapsLikeTheWindowRectangle) {
    const struct {
        const char* what;
        NoteRect source;
        NoteRect reply;     // ComposeReply: the source's size, at least 400 x 200
        NoteRect centered;  // Center on a note of the source's size
    } cases[] = {
        {"fits", {50, 50, 650, 350}, {212, 234, 812, 534}, {212, 234, 812, 534}},
        {"small", {0, 0, 185, 130}, {419, 319, 819, 519}, {419, 319, 604, 449}},
        {"wider than the screen", {10, 20, 5010, 120}, {2147481660, 334, -2147480636, 534},
         {2147481660, 334, -2147480636, 434}},
        {"taller than the screen", {0, 0, 300, 2000}, {362, 2147483032, 762, -2147482264},
         {362, 2147483032, 662, -2147482264}},
        {"negative corner", {-300, -200, -100, -50}, {412, 309, 812, 509}, {412, 309, 612, 459}},
        {"span past 2^31", {-2147483000, -10, 2000, 90}, {1073741660, 334, 1073742060, 534},
         {1073741660, 334, -1073740636, 434}},
    };
    const auto expectRect = [](const NoteRect& got, const NoteRect& want, const std::string& what) {
        EXPECT_EQ(got.left, want.left) << what;
        EXPECT_EQ(got.top, want.top) << what;
        EXPECT_EQ(got.right, want.right) << what;
        EXPECT_EQ(got.bottom, want.bottom) << what;
    };
    for (const auto& each : cases) {
        NoteRecord source;
        source.rect = each.source;
        NoteRecord reply;
        ASSERT_EQ(reply.ComposeReply(source), 1u) << each.what;
        expectRect(reply.rect, each.reply, std::string(each.what) + ", reply");
        NoteRecord centered;
        centered.rect = each.source;
        centered.Center(source);
        expectRect(centered.rect, each.centered, std::string(each.what) + ", centred");
    }
}

TEST_F(NoteReplyTest, CustomReplyTurnsLinesIntoParagraphs) {
    NoteRecord source(TextString("ann"));
    source.status = "Received: 11:59 PM 1/2/26 -0800";
    setContent(source, R"({\pard Hi\par })");

    NoteRecord alone;
    ASSERT_EQ(alone.ComposeCustomReply(source, "Away now\nBack soon", 0), 1u);
    EXPECT_EQ(text(alone.content), "{Away now\n\\par Back soon}");

    NoteRecord quoting;
    ASSERT_EQ(quoting.ComposeCustomReply(source, "Away\n", 1), 1u);
    EXPECT_EQ(text(quoting.content),
              "{\\pard Away\n\\par {\n\\par \n\\par At 11:59 PM 1/2/26 -0800, ann wrote:\\par }>Hi\\par >\\par }");

    // The composed reply of a source without "\pard " has no place for the
    // text: the text alone remains.
    setContent(source, "no rtf at all");
    NoteRecord bare;
    ASSERT_EQ(bare.ComposeCustomReply(source, "Away", 1), 1u);
    EXPECT_EQ(text(bare.content), "Away");
}

TEST_F(NoteReplyTest, AutoReplyNeverAnswersTheSignedInUser) {
    std::vector<std::string> sentTo;
    std::vector<uint32_t> autoFlags;
    const auto send = [&](NoteRecord& note) {
        sentTo.push_back(note.peerName.c_str());
        autoFlags.push_back(note.autoReply);
        return 1u;
    };
    const char* own[] = {"ann", "ANN", "Ann@Example.Com", "ann@example.com"};
    for (const char* peer : own) {
        NoteRecord source{TextString(peer)};
        EXPECT_EQ(SendAutoReply(source, "I am away", 0, "Ann", "example.com", send), 0u) << peer;
    }
    EXPECT_TRUE(sentTo.empty());

    const char* others[] = {"bob", "ann@elsewhere.org", "annie"};
    for (const char* peer : others) {
        NoteRecord source{TextString(peer)};
        EXPECT_EQ(SendAutoReply(source, "I am away", 0, "Ann", "example.com", send), 1u) << peer;
    }
    EXPECT_EQ(sentTo, (std::vector<std::string>{"bob", "ann@elsewhere.org", "annie"}));
    EXPECT_EQ(autoFlags, (std::vector<uint32_t>{1, 1, 1}));
}

} // namespace
} // namespace vp
