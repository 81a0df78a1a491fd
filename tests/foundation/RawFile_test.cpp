#include "foundation/RawFile.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using vp::RawFile;
using vp::test::readBytes;
using vp::test::TempDir;
using vp::test::writeBytes;

TEST(RawFileTest, WriteTruncatesAndAppendAddsAtTheEnd) {
    TempDir dir;
    writeBytes(dir.native() / "f.rtf", "old content that is longer");
    {
        RawFile file(dir.path("f.rtf").c_str(), RawFile::kWrite);
        ASSERT_EQ(file.IsOpen(), 1u);
        EXPECT_EQ(file.Write("{\\rtf1 ", 7), 1u);
        EXPECT_EQ(file.lastWritten(), 7u);
        EXPECT_EQ(file.Write(nullptr, 0), 1u);  // nothing to write is success
        EXPECT_EQ(file.Write(nullptr, 3), 0u);
        EXPECT_EQ(file.Size(), 7u);
    }
    {
        RawFile file(dir.path("f.rtf").c_str(), RawFile::kAppend);
        EXPECT_EQ(file.Write("}", 1), 1u);
    }
    EXPECT_EQ(readBytes(dir.native() / "f.rtf"), "{\\rtf1 }");
    {
        RawFile created(dir.path("new.bin").c_str(), RawFile::kAppend);
        EXPECT_EQ(created.IsOpen(), 1u);
        EXPECT_EQ(created.Write("\0\1", 2), 1u);
    }
    EXPECT_EQ(readBytes(dir.native() / "new.bin"), std::string("\0\1", 2));
}

TEST(RawFileTest, ReadSucceedsOnlyForTheWholeCount) {
    TempDir dir;
    writeBytes(dir.native() / "a.txt", "0123456789");
    RawFile file(dir.path("a.txt").c_str(), RawFile::kRead);
    ASSERT_EQ(file.IsOpen(), 1u);
    EXPECT_EQ(file.Size(), 10u);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, 4), 1u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(file.Read(buffer, 16), 0u);  // only six are left
    EXPECT_EQ(file.lastRead(), 6u);
    EXPECT_EQ(file.lastResult(), 1u);  // the platform call itself succeeded
    EXPECT_EQ(file.Write("x", 1), 0u);  // a reader does not write

    RawFile writer(dir.path("b.txt").c_str(), RawFile::kWrite);
    EXPECT_EQ(writer.Read(buffer, 1), 0u);  // nor a writer read

    RawFile missing(dir.path("missing").c_str(), RawFile::kRead);
    EXPECT_EQ(missing.IsOpen(), 0u);
    EXPECT_EQ(missing.Size(), 0u);
    EXPECT_EQ(missing.Read(buffer, 1), 0u);
    EXPECT_EQ(missing.Write("x", 1), 0u);
}

TEST(RawFileTest, ExistsFindsFilesAndFolders) {
    TempDir dir;
    writeBytes(dir.native() / "here.txt", "x");
    std::filesystem::create_directory(dir.native() / "folder");
    EXPECT_EQ(RawFile::Exists(dir.path("here.txt").c_str()), 1u);
    EXPECT_EQ(RawFile::Exists(dir.path("folder").c_str()), 1u);
    EXPECT_EQ(RawFile::Exists(dir.path().c_str()), 1u);
    EXPECT_EQ(RawFile::Exists(dir.path("gone.txt").c_str()), 0u);
    EXPECT_EQ(RawFile::Exists(""), 0u);
    // A search pattern matches other names; it is no name that exists.
    EXPECT_EQ(RawFile::Exists(dir.path("*.txt").c_str()), 0u);
    EXPECT_EQ(RawFile::Exists(dir.path("here.tx?").c_str()), 0u);
}

#ifdef _WIN32
TEST(RawFileTest, AnOpenFileIsShutToOthers) {
    TempDir dir;
    RawFile first(dir.path("att.bin").c_str(), RawFile::kWrite);
    ASSERT_EQ(first.IsOpen(), 1u);
    RawFile second(dir.path("att.bin").c_str(), RawFile::kRead);
    EXPECT_EQ(second.IsOpen(), 0u);
    first.close();
    RawFile third(dir.path("att.bin").c_str(), RawFile::kRead);
    EXPECT_EQ(third.IsOpen(), 1u);
}
#endif
