#include "foundation/RecordFile.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using vp::RecordFile;
using vp::TextString;
using vp::test::readBytes;
using vp::test::TempDir;
using vp::test::writeBytes;

namespace {

const std::string kSignature("\x05\x00\x00\x00IFFIO", 9);

std::string word(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (8 * i));
    return out;
}

} // namespace

TEST(RecordFileTest, WritesTheLayoutByteForByteAndReadsItBack) {
    TempDir dir;
    {
        RecordFile file(dir.path("a.nts").c_str(), RecordFile::kWriting);
        ASSERT_EQ(file.IsOpen(), 1u);
        EXPECT_EQ(file.IsWriting(), 1u);
        EXPECT_EQ(file.writeUint32(310), 1u);
        EXPECT_EQ(file.writeText("abc"), 1u);
        EXPECT_EQ(file.WriteRecord("", 0), 1u);
        EXPECT_EQ(file.WriteRecord("\x00\xff", 2), 1u);
        EXPECT_EQ(file.error(), 0u);
    }
    const std::string expected = kSignature + std::string("\x04\x00\x00\x00\x36\x01\x00\x00", 8) +
                                 std::string("\x03\x00\x00\x00" "abc", 7) + std::string(4, '\0') +
                                 std::string("\x02\x00\x00\x00\x00\xff", 6);
    EXPECT_EQ(readBytes(dir.native() / "a.nts"), expected);

    RecordFile file(dir.path("a.nts").c_str(), RecordFile::kReading);
    ASSERT_EQ(file.IsOpen(), 1u);
    EXPECT_EQ(file.IsWriting(), 0u);
    EXPECT_EQ(file.NextLength(), 4u);
    uint32_t marker = 0;
    EXPECT_EQ(file.readUint32(marker), 1u);
    EXPECT_EQ(marker, 310u);
    TextString text;
    EXPECT_EQ(file.readText(text), 1u);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(file.NextLength(), 0u);  // an empty record, not the end
    EXPECT_EQ(file.error(), 0u);
    EXPECT_EQ(file.ReadRecord(nullptr, 0), 1u);
    EXPECT_EQ(file.NextLength(), 2u);
    char last[2] = {1, 1};
    EXPECT_EQ(file.ReadRecord(last, 2), 1u);
    EXPECT_EQ(last[0], '\0');
    EXPECT_EQ(static_cast<unsigned char>(last[1]), 0xffu);
    // The last record was read: still success, but the end is marked.
    EXPECT_EQ(file.error(), RecordFile::kErrEnd);
    EXPECT_EQ(file.NextLength(), 0u);
}

TEST(RecordFileTest, SignatureOnlyFileOpensAtItsEnd) {
    TempDir dir;
    writeBytes(dir.native() / "empty.nts", kSignature);
    RecordFile file(dir.path("empty.nts").c_str(), RecordFile::kReading);
    EXPECT_EQ(file.IsOpen(), 1u);
    EXPECT_EQ(file.NextLength(), 0u);
    EXPECT_EQ(file.error(), RecordFile::kErrEnd);
    // A writer that writes nothing leaves exactly the signature behind.
    RecordFile writer(dir.path("new.nts").c_str(), RecordFile::kWriting);
    writer.Close();
    EXPECT_EQ(readBytes(dir.native() / "new.nts"), kSignature);
}

TEST(RecordFileTest, ReadWithTheWrongLengthDoesNotAdvance) {
    TempDir dir;
    writeBytes(dir.native() / "f", kSignature + word(3) + "xyz" + word(1) + "q");
    RecordFile file(dir.path("f").c_str(), RecordFile::kReading);
    char buffer[8] = {};
    EXPECT_EQ(file.ReadRecord(buffer, 4), 0u);
    EXPECT_EQ(file.error(), RecordFile::kErrLength);
    EXPECT_EQ(file.NextLength(), 3u);
    uint32_t value = 0;
    EXPECT_EQ(file.readUint32(value), 0u);  // a fixed-size field of another size
    EXPECT_EQ(file.error(), RecordFile::kErrLength);
    EXPECT_EQ(file.ReadRecord(buffer, 3), 1u);
    EXPECT_EQ(std::string(buffer, 3), "xyz");
    EXPECT_EQ(file.error(), 0u);
    EXPECT_EQ(file.NextLength(), 1u);
    EXPECT_EQ(file.skipRecord(), 1u);
    EXPECT_EQ(file.error(), RecordFile::kErrEnd);
}

TEST(RecordFileTest, OpenRefusesWhatIsNoRecordFile) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
        uint32_t error;
    } cases[] = {
        {"text", "Hello, this is a plain text file.\r\n", RecordFile::kErrSignature},
        {"other-signature", std::string("\x05\x00\x00\x00IFFIX", 9), RecordFile::kErrSignature},
        {"empty", "", RecordFile::kErrIo},
        {"short-word", std::string("\x05\x00", 2), RecordFile::kErrIo},
        {"short-signature", std::string("\x05\x00\x00\x00IFF", 7), RecordFile::kErrIo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.native() / c.name, c.content);
        RecordFile file;
        EXPECT_EQ(file.Open(dir.path(c.name).c_str(), RecordFile::kReading), 0u);
        EXPECT_EQ(file.error(), c.error);
        EXPECT_EQ(file.IsOpen(), 0u);
        EXPECT_EQ(file.NextLength(), 0u);
    }
    RecordFile missing;
    EXPECT_EQ(missing.Open(dir.path("missing").c_str(), RecordFile::kReading), 0u);
    EXPECT_EQ(missing.error(), RecordFile::kErrOpen);
    RecordFile noFolder;
    EXPECT_EQ(noFolder.Open(dir.path("no\\such\\folder.nts").c_str(), RecordFile::kWriting), 0u);
    EXPECT_EQ(noFolder.error(), RecordFile::kErrOpen);
}

TEST(RecordFileTest, DamagedLengthWordsAllocateNothingAndStayFailed) {
    // A length word is trusted only as far as the file reaches: a damaged one
    // must not turn into a huge allocation in the reader.
    TempDir dir;
    struct Case {
        const char* name;
        std::string content;
    } cases[] = {
        {"truncated-last-record", kSignature + word(3) + "abc" + word(10) + "short"},
        {"huge-length", kSignature + word(3) + "abc" + word(0xFFFFFFF0u) + "tail"},
        {"cut-length-word", kSignature + word(3) + "abc" + std::string("\x01\x00", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.native() / c.name, c.content);
        RecordFile file(dir.path(c.name).c_str(), RecordFile::kReading);
        ASSERT_EQ(file.IsOpen(), 1u);
        TextString text;
        // The intact record is delivered; the damage behind it is reported.
        EXPECT_EQ(file.readText(text), 1u);
        EXPECT_EQ(text, "abc");
        EXPECT_EQ(file.error(), RecordFile::kErrIo);
        EXPECT_EQ(file.NextLength(), 0u);
        // Error 4 is permanent: no read succeeds any more, whatever is asked.
        EXPECT_EQ(file.ReadRecord(nullptr, 0), 0u);
        EXPECT_EQ(file.readText(text), 0u);
        EXPECT_EQ(file.error(), RecordFile::kErrIo);
    }
    // Damage right behind the signature is still a record file, so that a
    // loader can tell a damaged file from a foreign one.
    writeBytes(dir.native() / "first", kSignature + word(100) + "x");
    RecordFile file(dir.path("first").c_str(), RecordFile::kReading);
    EXPECT_EQ(file.IsOpen(), 1u);
    EXPECT_EQ(file.error(), RecordFile::kErrIo);
    EXPECT_EQ(file.NextLength(), 0u);
    EXPECT_EQ(file.ReadRecord(nullptr, 0), 0u);
}

TEST(RecordFileTest, GuardsComeInTheirOrder) {
    TempDir dir;
    RecordFile writer(dir.path("w").c_str(), RecordFile::kWriting);
    char buffer[4] = {};
    EXPECT_EQ(writer.ReadRecord(buffer, 0), 0u);
    EXPECT_EQ(writer.error(), RecordFile::kErrDirection);
    EXPECT_EQ(writer.WriteRecord(nullptr, 0), 0u);
    EXPECT_EQ(writer.error(), RecordFile::kErrNoBuffer);
    EXPECT_EQ(writer.WriteRecord("ok", 2), 1u);
    EXPECT_EQ(writer.error(), 0u);  // each operation starts by clearing the error
    EXPECT_EQ(writer.Close(), 1u);
    EXPECT_EQ(writer.Close(), 0u);
    EXPECT_EQ(writer.WriteRecord("ok", 2), 0u);
    EXPECT_EQ(writer.error(), RecordFile::kErrNotOpen);

    RecordFile reader(dir.path("w").c_str(), RecordFile::kReading);
    EXPECT_EQ(reader.WriteRecord("x", 1), 0u);
    EXPECT_EQ(reader.error(), RecordFile::kErrDirection);
    // The length check comes before the buffer check.
    EXPECT_EQ(reader.ReadRecord(nullptr, 3), 0u);
    EXPECT_EQ(reader.error(), RecordFile::kErrLength);
    EXPECT_EQ(reader.ReadRecord(nullptr, 2), 0u);
    EXPECT_EQ(reader.error(), RecordFile::kErrNoBuffer);

    RecordFile never;
    EXPECT_EQ(never.IsWriting(), 1u);
    EXPECT_EQ(never.WriteRecord("x", 1), 0u);
    EXPECT_EQ(never.error(), RecordFile::kErrNotOpen);

    // Error 7 is permanent too, and comes before the direction check.
    writeBytes(dir.native() / "text", "plain text");
    RecordFile foreign(dir.path("text").c_str(), RecordFile::kReading);
    EXPECT_EQ(foreign.WriteRecord("x", 1), 0u);
    EXPECT_EQ(foreign.error(), RecordFile::kErrSignature);
}

TEST(RecordFileTest, OpenClosesTheFileItHadAndStartsAfresh) {
    TempDir dir;
    RecordFile file(dir.path("a").c_str(), RecordFile::kWriting);
    file.writeText("first");
    EXPECT_EQ(file.flush(), 1u);
    ASSERT_EQ(file.Open(dir.path("a").c_str(), RecordFile::kReading), 1u);
    TextString text;
    EXPECT_EQ(file.readText(text), 1u);
    EXPECT_EQ(text, "first");
    EXPECT_EQ(file.error(), RecordFile::kErrEnd);
    // Reopening for writing truncates.
    ASSERT_EQ(file.Open(dir.path("a").c_str(), RecordFile::kWriting), 1u);
    EXPECT_EQ(file.error(), 0u);
    file.Close();
    EXPECT_EQ(readBytes(dir.native() / "a"), kSignature);
}

#ifndef _WIN32
TEST(RecordFileTest, AFullDiskFailsTheWriteWithFour) {
    RecordFile file;
    EXPECT_EQ(file.Open("Z:\\dev\\full", RecordFile::kWriting), 0u);
    EXPECT_EQ(file.error(), RecordFile::kErrIo);
    EXPECT_EQ(file.IsOpen(), 0u);
}
#else
TEST(RecordFileTest, AWriterKeepsOtherWritersOut) {
    TempDir dir;
    RecordFile writer(dir.path("locked").c_str(), RecordFile::kWriting);
    ASSERT_EQ(writer.IsOpen(), 1u);
    RecordFile second(dir.path("locked").c_str(), RecordFile::kWriting);
    EXPECT_EQ(second.IsOpen(), 0u);
    EXPECT_EQ(second.error(), RecordFile::kErrOpen);
    EXPECT_EQ(writer.WriteRecord("still mine", 10), 1u);
}
#endif
