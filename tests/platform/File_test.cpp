#include "platform/File.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace vp::platform;
using vp::test::readBytes;
using vp::test::TempDir;
using vp::test::writeBytes;

TEST(FileTest, ReadWriteAppendAndSize) {
    TempDir dir;
    const std::string path = dir.path("f.bin");
    {
        File file = File::open(path.c_str(), FileOpen::CreateTruncate, FileShare::Read);
        ASSERT_TRUE(file.isOpen());
        uint32_t moved = 0;
        EXPECT_TRUE(file.write("hello", 5, moved));
        EXPECT_EQ(moved, 5u);
        EXPECT_TRUE(file.flush());
        uint64_t size = 0;
        EXPECT_TRUE(file.size(size));
        EXPECT_EQ(size, 5u);
    }
    {
        File file = File::open(path.c_str(), FileOpen::Append, FileShare::Exclusive);
        uint32_t moved = 0;
        EXPECT_TRUE(file.write(" world", 6, moved));
    }
    File reader = File::open(path.c_str(), FileOpen::Read, FileShare::Read);
    char buffer[32] = {};
    uint32_t moved = 0;
    EXPECT_TRUE(reader.read(buffer, sizeof buffer, moved));
    EXPECT_EQ(std::string(buffer, moved), "hello world");
    EXPECT_TRUE(reader.read(buffer, 4, moved));  // at the end: success, nothing moved
    EXPECT_EQ(moved, 0u);
    // A moved-from file is closed; the new owner reads on.
    File other = std::move(reader);
    EXPECT_FALSE(reader.isOpen());
    EXPECT_TRUE(other.isOpen());

    EXPECT_FALSE(File::open(dir.path("missing").c_str(), FileOpen::Read, FileShare::Read).isOpen());
    EXPECT_FALSE(File::open(dir.path().c_str(), FileOpen::Read, FileShare::Read).isOpen());
    EXPECT_FALSE(File::open("", FileOpen::Read, FileShare::Read).isOpen());
}

TEST(FileTest, MappingShowsTheWholeFile) {
    TempDir dir;
    std::string content(70000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    writeBytes(dir.native() / "att.bin", content);
    FileMapping mapping = FileMapping::mapReadOnly(dir.path("att.bin").c_str());
    ASSERT_TRUE(mapping.isValid());
    ASSERT_EQ(mapping.size(), content.size());
    EXPECT_EQ(std::memcmp(mapping.data(), content.data(), content.size()), 0);
    FileMapping moved = std::move(mapping);
    EXPECT_FALSE(mapping.isValid());
    EXPECT_TRUE(moved.isValid());
    moved.reset();
    EXPECT_FALSE(moved.isValid());

    writeBytes(dir.native() / "empty", "");
    FileMapping empty = FileMapping::mapReadOnly(dir.path("empty").c_str());
    EXPECT_TRUE(empty.isValid());
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_FALSE(FileMapping::mapReadOnly(dir.path("missing").c_str()).isValid());
}

TEST(FileTest, RenameOverReplacesAndDeleteRemoves) {
    TempDir dir;
    writeBytes(dir.native() / "List.anc", "old");
    writeBytes(dir.native() / "temp", "new");
    EXPECT_TRUE(renameOver(dir.path("temp").c_str(), dir.path("List.anc").c_str()));
    EXPECT_EQ(readBytes(dir.native() / "List.anc"), "new");
    EXPECT_FALSE(pathExists(dir.path("temp").c_str()));
    EXPECT_FALSE(renameOver(dir.path("temp").c_str(), dir.path("List.anc").c_str()));
    EXPECT_EQ(readBytes(dir.native() / "List.anc"), "new");

    EXPECT_TRUE(deleteFile(dir.path("List.anc").c_str()));
    EXPECT_FALSE(pathExists(dir.path("List.anc").c_str()));
    EXPECT_FALSE(deleteFile(dir.path("List.anc").c_str()));
}

#ifdef _WIN32
TEST(FileTest, SharingIsEnforced) {
    TempDir dir;
    const std::string path = dir.path("shared");
    File writer = File::open(path.c_str(), FileOpen::CreateTruncate, FileShare::Read);
    ASSERT_TRUE(writer.isOpen());
    EXPECT_FALSE(File::open(path.c_str(), FileOpen::Append, FileShare::Read).isOpen());
    writer.close();
    File exclusive = File::open(path.c_str(), FileOpen::Read, FileShare::Exclusive);
    ASSERT_TRUE(exclusive.isOpen());
    EXPECT_FALSE(File::open(path.c_str(), FileOpen::Read, FileShare::Read).isOpen());
}
#endif
