#include "notes/NoteStore.h"

#include "notes/FakeNoteView.h"

#include "support/AllocationWatch.h"
#include "support/Bytes.h"
#include "support/ScriptedMessages.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vp {
namespace {

namespace fs = std::filesystem;
using test::bytes;
using test::le32;

// The main window: it owns the notes handed to it and deletes on request.
class FakeMainWindow final : public NoteStorePort {
public:
    std::vector<std::unique_ptr<NoteRecord>> opened;
    std::vector<NoteRecord*> deleted;
    std::vector<uint32_t> newNotesAvailable;

    void setNewNotesAvailable(uint32_t available) override { newNotesAvailable.push_back(available); }
    void openNote(NoteRecord* note) override { opened.emplace_back(note); }
    void deleteNote(NoteRecord* note) override {
        deleted.push_back(note);
        for (auto& owned : opened) {
            if (owned.get() == note) owned.reset();
        }
    }
};

// One record: its length word, then its bytes.
std::string text(const std::string& value) {
    return le32(static_cast<uint32_t>(value.size())) + value;
}

std::string u32(uint32_t value) {
    return text(le32(value));
}

const std::string kSignature = bytes("\x05\0\0\0IFFIO", 9);
const std::string kVersion211 = bytes("\x04\0\0\0\x3d\x0a\x07\x40", 8);

class NoteStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        NoteList::instance().resetCascade({1024, 768});
        fs::create_directory(m_dir.native() / "Notes");
        NoteList::instance().setCounts({});
    }

    fs::path notes(const char* name) const { return m_dir.native() / "Notes" / name; }

    // A note on the desktop with a window.
    NoteRecord* desktopNote(const char* peer, const char* rtf) {
        auto* note = new NoteRecord(TextString(peer));
        note->content.assign(rtf, static_cast<uint32_t>(std::string(rtf).size()));
        m_views.push_back(std::make_unique<test::FakeNoteView>());
        note->setWindow(m_views.back().get());
        m_main.opened.emplace_back(note);
        return note;
    }

    test::TempDir m_dir;
    test::ScriptedMessages m_messages;
    test::ScopedMessageService m_scope{m_messages};
    // The views outlive the notes that the main window still holds.
    std::vector<std::unique_ptr<test::FakeNoteView>> m_views;
    FakeMainWindow m_main;
    NoteStore m_store{TextString(m_dir.path().c_str()), m_main};
};

TEST_F(NoteStoreTest, DesktopFileLayoutByteForByte) {
    NoteRecord* note = desktopNote("ann", "{\\rtf1 hi}");
    note->rect = {10, -20, 195, 110};
    note->alwaysOnTop = 1;
    note->reserved1 = 2;
    note->reserved2 = 3;
    note->received = 1;
    note->attachmentFolder = "C:\\In\\";
    note->attachmentName = "a.txt";
    note->status = "Ready";
    NoteRecord loose;  // no window: not written, not deleted

    ASSERT_EQ(m_store.SaveDesktopNotes(m_store.desktopNotesPath()), 1u);
    const std::string expected = kSignature + kVersion211 + u32(1) + u32(1) + u32(2) + u32(3) + u32(1) + u32(1) +
                                 bytes("\x10\0\0\0\x0a\0\0\0\xec\xff\xff\xff\xc3\0\0\0\x6e\0\0\0", 20) +
                                 text("ann") + text("C:\\In\\") + text("a.txt") + text("Ready") + text("{\\rtf1 hi}");
    EXPECT_EQ(test::readBytes(notes("DesktopNotes.nts")), expected);
    EXPECT_EQ(m_main.deleted, std::vector<NoteRecord*>{note});
    EXPECT_EQ(m_views[0]->calls, (std::vector<std::string>{"pullState", "hide", "destroyWindow"}));
    EXPECT_FALSE(fs::exists(notes("TempDesktop.nts")));

    // Loading hands the note back to the main window as it was saved.
    FakeMainWindow main;
    NoteStore store(TextString(m_dir.path().c_str()), main);
    RecordFile file(store.desktopNotesPath(), RecordFile::kReading);
    ASSERT_EQ(store.LoadDesktopNotes(file), 1u);
    ASSERT_EQ(main.opened.size(), 1u);
    const NoteRecord& back = *main.opened[0];
    EXPECT_EQ(back.rect.top, -20);
    EXPECT_EQ(back.reserved2, 3u);
    EXPECT_EQ(std::string(back.attachmentFolder.c_str()), "C:\\In\\");
    EXPECT_EQ(std::string(back.content.data(), back.content.size()), "{\\rtf1 hi}");
    EXPECT_EQ(m_messages.boxCount(), 0u);
}

// A save used to truncate the desktop file first, so a failure part-way lost
// every note saved before.
TEST_F(NoteStoreTest, FailedSaveKeepsThePreviousFile) {
    const std::string previous = kSignature + kVersion211;
    test::writeBytes(notes("DesktopNotes.nts"), previous);
    fs::create_directory(notes("TempDesktop.nts"));  // the temporary file cannot be made
    desktopNote("ann", "{\\rtf1 lost?}");
    EXPECT_EQ(m_store.SaveDesktopNotes(m_store.desktopNotesPath()), 0u);
    EXPECT_EQ(test::readBytes(notes("DesktopNotes.nts")), previous);
}

TEST_F(NoteStoreTest, ReadsTheOldLayout) {
    const std::string file = kSignature + bytes("\x04\0\0\0\x52\xb8\xfe\x3f", 8) + u32(1) + u32(9) + u32(0) + u32(1) +
                             bytes("\x10\0\0\0\x01\0\0\0\x02\0\0\0\x03\0\0\0\x04\0\0\0", 20) + text("bob") +
                             text("") + text("") + text("{\\rtf1 old}");
    test::writeBytes(notes("Old.nts"), file);
    RecordFile records(TextString((m_dir.path("Notes") + "\\Old.nts").c_str()), RecordFile::kReading);
    ASSERT_EQ(m_store.LoadDesktopNotes(records), 1u);
    ASSERT_EQ(m_main.opened.size(), 1u);
    const NoteRecord& note = *m_main.opened[0];
    EXPECT_EQ(note.alwaysOnTop, 1u);
    EXPECT_EQ(note.reserved1, 9u);
    EXPECT_EQ(note.headerShown, 0u);
    EXPECT_EQ(note.received, 1u);
    EXPECT_EQ(note.rect.right, 3);
    EXPECT_EQ(note.visible, 1u);
    EXPECT_EQ(note.reserved2, 0u);
    EXPECT_EQ(std::string(note.status.c_str()), "Ready");
    EXPECT_EQ(std::string(note.peerName.c_str()), "bob");
    EXPECT_EQ(std::string(note.content.data(), note.content.size()), "{\\rtf1 old}");
}

TEST_F(NoteStoreTest, UnknownVersionsAsk) {
    const struct {
        const char* what;
        std::string version;
        const char* question;
    } cases[] = {
        {"2.5", bytes("\x04\0\0\0\0\0\x20\x40", 8),
         "Cannot load notes saved by a newer version of VELLUMPOST.\n\nWould you like to abandon these notes and "
         "continue?"},
        {"1.5", bytes("\x04\0\0\0\0\0\xc0\x3f", 8),
         "Cannot load notes -- the file is corrupted.\n\nWould you like to abandon these notes and continue?"},
        {"100.0", bytes("\x04\0\0\0\0\0\xc8\x42", 8),
         "Cannot load notes -- the file is corrupted.\n\nWould you like to abandon these notes and continue?"},
        {"no version record", std::string(),
         "Cannot load notes -- the file is corrupted.\n\nWould you like to abandon these notes and continue?"},
    };
    for (const auto& each : cases) {
        test::writeBytes(notes("Some.nts"), kSignature + each.version);
        RecordFile file(TextString((m_dir.path("Notes") + "\\Some.nts").c_str()), RecordFile::kReading);
        m_messages.script({kIdCancel});
        const size_t before = m_messages.boxCount();
        EXPECT_EQ(m_store.LoadDesktopNotes(file), 0u) << each.what;
        ASSERT_EQ(m_messages.boxCount(), before + 1) << each.what;
        EXPECT_EQ(m_messages.boxes().back().text, each.question) << each.what;
        EXPECT_EQ(m_messages.boxes().back().flags & kMbButtonMask, kMbOkCancel);
    }
    EXPECT_TRUE(m_main.opened.empty());

    // Only the version record: nothing to load, no question.
    test::writeBytes(notes("Empty.nts"), kSignature + kVersion211);
    RecordFile empty(TextString((m_dir.path("Notes") + "\\Empty.nts").c_str()), RecordFile::kReading);
    const size_t before = m_messages.boxCount();
    EXPECT_EQ(m_store.LoadDesktopNotes(empty), 1u);
    EXPECT_EQ(m_messages.boxCount(), before);
}

TEST_F(NoteStoreTest, AppendAndShowNewNotes) {
    {
        NoteRecord first(TextString("ann"));
        first.status = std::string(300, 's').c_str();
        first.content.assign("{one}", 5);
        ASSERT_EQ(m_store.AppendToNewNotes(first), 1u);
    }
    EXPECT_EQ(m_store.NewNoteCount(), 1u);
    EXPECT_FALSE(fs::exists(notes("TempNew.nts")));
    {
        NoteRecord second(TextString("bob"));
        ASSERT_EQ(m_store.AppendToNewNotes(second), 1u);
    }
    EXPECT_EQ(m_store.NewNoteCount(), 2u);
    EXPECT_EQ(m_main.newNotesAvailable, (std::vector<uint32_t>{1, 1}));

    ASSERT_EQ(m_store.ShowNewNotes(), 1u);
    ASSERT_EQ(m_main.opened.size(), 2u);
    EXPECT_EQ(std::string(m_main.opened[0]->peerName.c_str()), "ann");
    EXPECT_EQ(std::string(m_main.opened[0]->status.c_str()), std::string(300, 's'));
    EXPECT_EQ(std::string(m_main.opened[1]->peerName.c_str()), "bob");
    EXPECT_FALSE(fs::exists(notes("NewNotes.nts")));
    EXPECT_EQ(m_store.NewNoteCount(), 0u);
    EXPECT_EQ(m_store.ShowNewNotes(), 0u) << "no file, nothing shown";
    // The counts were saved on the way: marker 310, then new, desktop, hidden.
    EXPECT_EQ(test::readBytes(notes("NotesCount.cnt")), kSignature + u32(310) + u32(0) + u32(0) + u32(0));
}

TEST_F(NoteStoreTest, HideAllMovesNotesToTheHiddenFile) {
    desktopNote("ann", "{a}");
    desktopNote("bob", "{b}");
    m_store.HideAllNotes();
    EXPECT_EQ(m_main.deleted.size(), 2u);
    EXPECT_EQ(m_store.HiddenNoteCount(), 2u);
    ASSERT_EQ(m_store.ShowHiddenNotes(), 1u);
    ASSERT_EQ(m_main.opened.size(), 4u);
    EXPECT_EQ(std::string(m_main.opened[3]->peerName.c_str()), "bob");
    EXPECT_EQ(m_store.HiddenNoteCount(), 0u);
}

TEST_F(NoteStoreTest, CountsAndStatistics) {
    test::writeBytes(notes("NotesCount.cnt"), kSignature + u32(311) + u32(5) + u32(5) + u32(5));
    EXPECT_EQ(m_store.LoadCounts(), 0u);
    EXPECT_EQ(m_store.NewNoteCount(), 0u);

    test::writeBytes(notes("NotesCount.cnt"), kSignature + u32(310) + u32(1) + u32(7) + u32(3));
    ASSERT_EQ(m_store.LoadCounts(), 1u);
    EXPECT_EQ(m_store.NewNoteCount(), 1u);
    EXPECT_EQ(m_store.HiddenNoteCount(), 3u);
    EXPECT_EQ(std::string(m_store.statisticsText().c_str()),
              "Statistics\n  1 new note\n  0 desktop note\n  3 hidden notes\n_____________________\n  4 notes in total");
    m_store.ShowStatistics();
    ASSERT_EQ(m_messages.boxCount(), 1u);
    EXPECT_EQ(m_messages.boxes()[0].text, std::string(m_store.statisticsText().c_str()));
    ASSERT_EQ(m_store.SaveCounts(), 1u);
    EXPECT_EQ(test::readBytes(notes("NotesCount.cnt")), kSignature + u32(310) + u32(1) + u32(0) + u32(3));
}

TEST_F(NoteStoreTest, StartUpgradesOldFilesAndStopSaves) {
    const std::string oneNote = kSignature + kVersion211 + u32(0) + u32(1) + u32(0) + u32(0) + u32(1) + u32(0) +
                                bytes("\x10\0\0\0\0\0\0\0\0\0\0\0\x10\0\0\0\x10\0\0\0", 20) + text("old") + text("") +
                                text("") + text("Ready") + text("{x}");
    test::writeBytes(m_dir.native() / "VELLUMPOST.nts", oneNote);
    test::writeBytes(notes("All.nts"), oneNote);
    test::writeBytes(notes("DesktopNotes.nts"), oneNote);
    ASSERT_EQ(m_store.StartNotes(), 1u);
    EXPECT_EQ(m_main.opened.size(), 2u) << "All.nts loaded: the desktop file is not read";
    EXPECT_FALSE(fs::exists(m_dir.native() / "VELLUMPOST.nts"));
    EXPECT_FALSE(fs::exists(notes("All.nts")));
    m_main.opened.clear();
}

// Running out of memory used to throw out of the notes through their vectors
// and strings: now each operation answers 0 and leaves notes and files alone.
TEST_F(NoteStoreTest, OutOfMemoryAnswersZeroAndChangesNothing) {
    NoteRecord* note = desktopNote("ann", "{\\rtf1 hi}");
    ASSERT_EQ(m_store.AppendToNewNotes(*note), 1u);
    const std::string one = test::readBytes(notes("NewNotes.nts")).substr(kSignature.size());
    std::string many = kSignature;
    for (int i = 0; i < 40; ++i) many += one;  // a list that must grow past 256 bytes
    test::writeBytes(notes("NewNotes.nts"), many);
    NoteRecord incoming;
    incoming.attachmentName = TextString((std::string(200, 'x') + ".txt").c_str());
    const TextString receiveFolder(m_dir.path().c_str());
    const struct {
        const char* what;
        size_t failFrom;  // the smallest request that fails
        std::function<uint32_t()> run;
    } cases[] = {
        {"shown notes outgrow memory", 300, [&] { return m_store.ShowNewNotes(); }},
        {"the file's path", 1, [&] { return m_store.AppendToNewNotes(*note); }},
        {"save", 1, [&] { return m_store.SaveDesktopNotes(m_store.desktopNotesPath()); }},
        {"hide", 1, [&] { return (m_store.HideAllNotes(), 0u); }},
        {"delete", 1, [&] { return (m_store.DeleteDesktopNotes(), 0u); }},
        {"statistics", 1, [&] { return m_store.statisticsText().isValid() ? 1u : 0u; }},
        {"attachment name", 150, [&] { return incoming.OpenIncomingAttachment(receiveFolder); }},
    };
    for (const auto& each : cases) {
        uint32_t result = 1;
        {
            test::AllocationWatch watch;
            watch.failFrom(each.failFrom);
            result = each.run();
        }
        EXPECT_EQ(result, 0u) << each.what;
    }
    EXPECT_EQ(test::readBytes(notes("NewNotes.nts")), many);
    EXPECT_EQ(m_main.opened.size(), 1u);
    EXPECT_TRUE(m_main.deleted.empty());
    EXPECT_TRUE(m_views[0]->calls.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.native()), {}), 1) << "only Notes";
}

TEST_F(NoteStoreTest, AppendCopiesTheWholeNotesBeforeTheNewOne) {
    // The old notes are copied in blocks, as far as the last whole note: a
    // cut or damaged note behind it is left out, as copying note by note did.
    NoteRecord added(TextString("bob"));
    added.content.assign("{b}", 3);
    ASSERT_EQ(m_store.AppendToNewNotes(added), 1u);
    const std::string addedBytes = test::readBytes(notes("NewNotes.nts")).substr(kSignature.size());
    const std::string fields = u32(0) + u32(1) + u32(0) + u32(0) + u32(1) + u32(0);
    const std::string whole = fields + text(std::string(16, '\x01')) + text("ann") + text("") + text("") +
                              text("Ready") + text("{a}");
    const struct {
        const char* what;
        std::string old;
        std::string kept;
    } cases[] = {
        {"whole notes", kSignature + whole + whole, whole + whole},
        {"a cut note", kSignature + whole + whole.substr(0, whole.size() - 2), whole},
        {"a rectangle of 12 bytes", kSignature + whole + fields + text(std::string(12, '\x01')) + whole, whole},
        {"a length past the end", kSignature + whole + le32(0xFFFFFFF0u) + "tail", whole},
        {"no record file", "plain text", ""},
    };
    for (const auto& each : cases) {
        test::writeBytes(notes("NewNotes.nts"), each.old);
        EXPECT_EQ(m_store.AppendToNewNotes(added), 1u) << each.what;
        EXPECT_EQ(test::readBytes(notes("NewNotes.nts")), kSignature + each.kept + addedBytes) << each.what;
    }
}

} // namespace
} // namespace vp
