#include "notes/NoteRecord.h"

#include "notes/FakeNoteView.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vp {
namespace {

std::string text(const TextString& value) {
    return value.c_str();
}

std::string text(const ContentBuffer& value) {
    return std::string(value.data() ? value.data() : "", value.size());
}

using test::FakeNoteView;

TEST(ContentBuffer, AssignWriteAppendAndCopy) {
    ContentBuffer buffer;
    ASSERT_EQ(buffer.allocate(6), 1u);
    EXPECT_EQ(buffer.write("{\\rt", 4), 1u);
    EXPECT_EQ(buffer.position(), 4u);
    EXPECT_EQ(buffer.write("f1}", 3), 0u) << "a write past the end is refused whole";
    EXPECT_EQ(buffer.position(), 4u);
    EXPECT_EQ(buffer.write("f}", 2), 1u);
    EXPECT_EQ(text(buffer), "{\\rtf}");

    EXPECT_EQ(buffer.append(" more", 5), 1u);
    EXPECT_EQ(text(buffer), "{\\rtf} more");
    EXPECT_EQ(buffer.position(), 0u);

    ContentBuffer copy(buffer);
    copy = copy;  // self-assignment keeps the bytes
    EXPECT_EQ(text(copy), "{\\rtf} more");
    ASSERT_EQ(copy.assign(copy.data() + 7, 4), 1u) << "assigning from its own bytes";
    EXPECT_EQ(text(copy), "more");
    EXPECT_EQ(text(buffer), "{\\rtf} more");

    std::string nul("a\0b", 3);
    ASSERT_EQ(buffer.assign(nul.data(), 3), 1u);
    EXPECT_EQ(text(buffer), nul) << "content is counted, not NUL-terminated";
}

class NoteRecordTest : public ::testing::Test {
protected:
    void SetUp() override { NoteList::instance().resetCascade({1024, 768}); }
};

// The first note sits at (W - 92, H - 65); the cursor then steps +10/+5 and
// wraps inside [0.35 W, 0.65 W) x [0.35 H, 0.65 H).
TEST_F(NoteRecordTest, CascadePlacesNewNotesAndWraps) {
    NoteRecord first;
    EXPECT_EQ(first.rect.left, 932);
    EXPECT_EQ(first.rect.top, 703);
    EXPECT_EQ(first.rect.right, 1117);
    EXPECT_EQ(first.rect.bottom, 833);
    // a = 358, b = 307: (1024 + 10 - 358) % 307 + 358 = 420; c = 268, d = 230:
    // (768 + 5 - 268) % 230 + 268 = 313.
    NoteRecord second;
    EXPECT_EQ(second.rect.left, 420 - 92);
    EXPECT_EQ(second.rect.top, 313 - 65);

    // A cursor below 93 / 66 is used as it is.
    NoteList::instance().resetCascade({80, 60});
    NoteRecord small;
    EXPECT_EQ(small.rect.left, 80);
    EXPECT_EQ(small.rect.top, 60);

    // A screen too small to hold a band leaves the cursor in place instead of
    // dividing by zero.
    NoteList::instance().resetCascade({3, 3});
    NoteRecord tiny;
    NoteRecord again;
    EXPECT_EQ(again.rect.left, tiny.rect.left);
}

// The defaults are checked where the desktop file writes them.
TEST_F(NoteRecordTest, ListMembershipInCreationOrder) {
    NoteList& list = NoteList::instance();
    const uint32_t before = list.count();
    {
        NoteRecord plain;
        NoteRecord addressed(TextString("bob@example"));
        SemaphoreLock guard(list.lock());
        EXPECT_EQ(list.count(), before + 2);
        // Creation order: the two newest are the last two.
        NoteRecord* record = list.first();
        std::vector<NoteRecord*> order;
        for (; record; record = list.next(*record)) order.push_back(record);
        ASSERT_EQ(order.size(), before + 2);
        EXPECT_EQ(order[before], &plain);
        EXPECT_EQ(order[before + 1], &addressed);
    }
    SemaphoreLock guard(list.lock());
    EXPECT_EQ(list.count(), before);
}

TEST_F(NoteRecordTest, StatusWithAndWithoutWindow) {
    NoteRecord note;
    note.status = "Received: 10:15 PM 3/7/5 +0530";
    note.LabelStatus("Replied");
    EXPECT_EQ(text(note.status), "Replied: 10:15 PM 3/7/5 +0530");
    note.status = "Ready";
    note.LabelStatus("Replied");
    EXPECT_EQ(text(note.status), "Replied: sometime ago.");
    // "3:" is no time: the hour must be two digits from 00 to 29.
    note.status = "Sent 3:15 and 31:00";
    note.LabelStatus("Hidden");
    EXPECT_EQ(text(note.status), "Hidden: sometime ago.");

    FakeNoteView view;
    note.setWindow(&view);
    note.SetStatus("Sending...");
    EXPECT_EQ(text(note.status), "Sending...");
    view.statusLine = "Typed by the window";
    EXPECT_EQ(text(note.GetStatus()), "Typed by the window") << "the window's status line is the truth";
    note.LabelStatus("Replied");
    EXPECT_EQ(view.calls, (std::vector<std::string>{"setStatusText Sending...", "labelStatus Replied"}));
    note.setWindow(nullptr);
}

TEST_F(NoteRecordTest, AttachmentSplitsPathAndShowsHeader) {
    NoteRecord note;
    note.headerShown = 0;
    note.SetAttachment("C:\\Data\\Reports\\q3.final.xls");
    EXPECT_EQ(text(note.attachmentFolder), "C:\\Data\\Reports\\");
    EXPECT_EQ(text(note.attachmentName), "q3.final.xls");
    EXPECT_EQ(note.headerShown, 1u);
    EXPECT_EQ(note.HasAttachment(), 1u);
    note.SetAttachment("plain.txt");
    EXPECT_EQ(text(note.attachmentFolder), "");
    EXPECT_EQ(text(note.attachmentName), "plain.txt");

    FakeNoteView view;
    auto* record = new NoteRecord;
    record->setWindow(&view);
    record->headerShown = 0;
    record->SetAttachment("C:\\a.txt");
    EXPECT_EQ(record->HasAttachment(), 0u) << "with a window, its attachment strip answers";
    view.attachmentShown = 1;
    EXPECT_EQ(record->HasAttachment(), 1u);
    delete record;
    EXPECT_EQ(view.calls, (std::vector<std::string>{"showHeader", "destroyWindow"}));
}

} // namespace
} // namespace vp
