#include "notes/NoteRecord.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace vp {
namespace {

namespace fs = std::filesystem;

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class NoteAttachmentTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directory(m_dir.native() / "Attachments"); }

    // The receive folder as the settings hold it, with a trailing backslash.
    TextString receiveFolder() const { return TextString((m_dir.path("Attachments") + "\\").c_str()); }
    fs::path folder() const { return m_dir.native() / "Attachments"; }

    test::TempDir m_dir;
};

TEST_F(NoteAttachmentTest, IncomingNamesNeverCollide) {
    test::writeBytes(folder() / "a.b.txt", "old");
    test::writeBytes(folder() / "a.b(1).txt", "older");
    NoteRecord note;
    note.attachmentName = "a.b.txt";
    ASSERT_EQ(note.OpenIncomingAttachment(receiveFolder()), 1u);
    EXPECT_EQ(std::string(note.attachmentName.c_str()), "a.b(2).txt");
    EXPECT_EQ(std::string(note.attachmentFolder.c_str()), m_dir.path("Attachments") + "\\");
    EXPECT_EQ(note.OpenIncomingAttachment(receiveFolder()), 0u) << "one incoming file at a time";
    EXPECT_EQ(note.WriteIncomingAttachment("new ", 4), 1u);
    EXPECT_EQ(note.WriteIncomingAttachment("bytes", 5), 1u);
    EXPECT_EQ(note.CloseIncomingAttachment(), 1u);
    EXPECT_EQ(note.CloseIncomingAttachment(), 0u);
    EXPECT_EQ(note.WriteIncomingAttachment("x", 1), 0u);
    EXPECT_EQ(test::readBytes(folder() / "a.b(2).txt"), "new bytes");
    EXPECT_EQ(test::readBytes(folder() / "a.b.txt"), "old");

    test::writeBytes(folder() / "README", "");
    NoteRecord plain;
    plain.attachmentName = "README";
    ASSERT_EQ(plain.OpenIncomingAttachment(receiveFolder()), 1u);
    EXPECT_EQ(std::string(plain.attachmentName.c_str()), "README(1)");
    plain.CloseIncomingAttachment();

    NoteRecord none;
    EXPECT_EQ(none.OpenIncomingAttachment(receiveFolder()), 0u) << "no name, no file";
}

// Received names used to be joined to the receive folder as they came, so a
// sender could write anywhere the user may write.
TEST_F(NoteAttachmentTest, HostileNamesStayInsideTheReceiveFolder) {
    const std::set<std::string> outsideBefore = namesIn(m_dir.native());
    const struct {
        const char* name;
        const char* storedAs;
    } cases[] = {
        {"..\\evil.txt", "evil.txt"},
        {"../../evil2.txt", "evil2.txt"},
        {"C:evil3.txt", "evil3.txt"},
        {"Z:\\tmp\\evil4.txt", "evil4.txt"},
        {"..", "attachment"},
        {"sub\\..", "attachment(1)"},
        {"bell\x07name\x1f.txt", "bell_name_.txt"},
        {"what?*|<>\".txt", "what______.txt"},
        {"NUL.txt", "_NUL.txt"},
        {" spaced. . ", "spaced"},
    };
    for (const auto& each : cases) {
        NoteRecord note;
        note.attachmentName = each.name;
        ASSERT_EQ(note.OpenIncomingAttachment(receiveFolder()), 1u) << each.name;
        EXPECT_EQ(std::string(note.attachmentName.c_str()), each.storedAs) << each.name;
        note.WriteIncomingAttachment("x", 1);
        note.CloseIncomingAttachment();
        EXPECT_TRUE(fs::exists(folder() / each.storedAs)) << each.name;
    }
    EXPECT_EQ(namesIn(m_dir.native()), outsideBefore);
    EXPECT_EQ(namesIn(folder()).size(), std::size(cases));
}

TEST_F(NoteAttachmentTest, RemoveDeletesOnlyInsideTheReceiveFolder) {
    test::writeBytes(folder() / "keep me.txt", "1");
    test::writeBytes(folder() / "keep  me.txt", "2");
    test::writeBytes(m_dir.native() / "outside.txt", "3");

    NoteRecord note;
    note.attachmentFolder = TextString((m_dir.path("Attachments") + "\\\\").c_str());
    note.attachmentName = "keep  me.txt";
    note.RemoveAttachment(receiveFolder());
    EXPECT_FALSE(fs::exists(folder() / "keep  me.txt"));
    EXPECT_TRUE(fs::exists(folder() / "keep me.txt")) << "spaces in the name are not collapsed";
    EXPECT_EQ(std::string(note.attachmentName.c_str()), "");
    EXPECT_EQ(std::string(note.attachmentFolder.c_str()), "");

    note.attachmentFolder = TextString((m_dir.path() + "\\").c_str());
    note.attachmentName = "outside.txt";
    note.RemoveAttachment(receiveFolder());
    EXPECT_TRUE(fs::exists(m_dir.native() / "outside.txt")) << "another folder is never touched";
    EXPECT_EQ(std::string(note.attachmentName.c_str()), "");

    note.attachmentFolder = receiveFolder();
    note.attachmentName = "..\\outside.txt";
    note.RemoveAttachment(receiveFolder());
    EXPECT_TRUE(fs::exists(m_dir.native() / "outside.txt")) << "nor reached through the name";
}

TEST_F(NoteAttachmentTest, MapsTheAttachmentReadOnly) {
    test::writeBytes(folder() / "data.bin", std::string("\x00\x01payload", 9));
    NoteRecord note;
    uint32_t error = 99;
    EXPECT_EQ(note.MapAttachment(error), 0u) << "no attachment folder";
    note.SetAttachment(TextString((m_dir.path("Attachments") + "\\data.bin").c_str()));
    ASSERT_EQ(note.MapAttachment(error), 1u);
    EXPECT_EQ(error, 0u);
    ASSERT_EQ(note.AttachmentSize(), 9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(note.AttachmentData()), 9), std::string("\x00\x01payload", 9));
    EXPECT_EQ(note.MapAttachment(error), 1u) << "mapped already";
    note.UnmapAttachment();
    EXPECT_EQ(note.AttachmentSize(), 0u);

    note.SetAttachment(TextString((m_dir.path("Attachments") + "\\missing.bin").c_str()));
    EXPECT_EQ(note.MapAttachment(error), 0u);
    EXPECT_NE(error, 0u);
    EXPECT_EQ(note.AttachmentSize(), 0u);
}

} // namespace
} // namespace vp
