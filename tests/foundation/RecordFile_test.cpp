#include "foundation/RecordFile.h"
#include "platform/AtomicFile.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

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

TEST(RecordFileTest, RecordsCrossTheBufferBlocksWhole) {
    // Lengths chosen so that a length word and a record's bytes straddle the
    // end of a block, and one record is larger than a block.
    const uint32_t block = RecordFile::kBlockBytes;
    const uint32_t lengths[] = {block - 9 - 4 - 2, 3, 2 * block + 5, 0, block, 7};
    TempDir dir;
    std::string expected = kSignature;
    std::vector<std::string> records;
    {
        RecordFile file(dir.path("blocks").c_str(), RecordFile::kWriting);
        for (uint32_t length : lengths) {
            std::string record(length, '\0');
            for (uint32_t i = 0; i < length; ++i) record[i] = static_cast<char>(i * 7 + records.size());
            EXPECT_EQ(file.WriteRecord(record.data(), length), 1u);
            expected += word(length) + record;
            records.push_back(std::move(record));
        }
        EXPECT_EQ(file.Close(), 1u);
    }
    EXPECT_EQ(readBytes(dir.native() / "blocks"), expected);

    RecordFile file(dir.path("blocks").c_str(), RecordFile::kReading);
    for (const std::string& record : records) {
        ASSERT_EQ(file.NextLength(), record.size());
        std::string read(record.size(), '\0');
        ASSERT_EQ(file.ReadRecord(read.data(), file.NextLength()), 1u);
        EXPECT_EQ(read, record);
    }
    EXPECT_EQ(file.error(), RecordFile::kErrEnd);
}

TEST(RecordFileTest, SignatureOnlyFileOpensAtItsEnd) {
    TempDir dir;
    writeBytes(dir.native() / "empty.nts", kSignature);
    RecordFile file(dir.path("empty.nts").c_str(), RecordFile::kReading);
    EXPECT_EQ(file.IsOpen(), 1u);
    EXPECT_EQ(file.NextLength(), 0u);
    EXPECT_EQ(file.error(), RecordFile::kErrEnd);
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
    // A first record of two blocks is read past the buffer; the bytes it
    // takes still count against the file's size.
    const std::string blocks(2 * RecordFile::kBlockBytes, 'b');
    struct Case {
        const char* name;
        std::string first;
        std::string tail;
    } cases[] = {
        {"truncated-last-record", "abc", word(10) + "short"},
        {"huge-length", "abc", word(0xFFFFFFF0u) + "tail"},
        {"cut-length-word", "abc", std::string("\x01\x00", 2)},
        {"truncated-after-two-blocks", blocks, word(10) + "short"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(dir.native() / c.name, kSignature + word(static_cast<uint32_t>(c.first.size())) + c.first + c.tail);
        RecordFile file(dir.path(c.name).c_str(), RecordFile::kReading);
        ASSERT_EQ(file.IsOpen(), 1u);
        TextString text;
        // The intact record is delivered; the damage behind it is reported.
        EXPECT_EQ(file.readText(text), 1u);
        EXPECT_EQ(std::string(text.c_str(), text.length()), c.first);
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
    // Reopening for writing truncates: nothing written leaves the signature alone.
    ASSERT_EQ(file.Open(dir.path("a").c_str(), RecordFile::kWriting), 1u);
    EXPECT_EQ(file.error(), 0u);
    file.Close();
    EXPECT_EQ(readBytes(dir.native() / "a"), kSignature);
}

TEST(RecordFileTest, AFailedWriteFailsTheCallThatFindsItAndTheSave) {
    // Records wait in the buffer, so the flush or the close that writes them
    // out may be the first to see the disk refuse them.
    TempDir dir;
    writeBytes(dir.native() / "list", kSignature + word(3) + "old");
    const struct {
        const char* name;
        uint32_t length;
        bool flush;  // else Close
        uint32_t written;
        uint32_t ended;
    } cases[] = {
        {"found by flush", 10, true, 1, 0},
        {"found by close", 10, false, 1, 0},
        {"a block is written at once", RecordFile::kBlockBytes, false, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string record(c.length, 'r');
        const bool saved = vp::platform::saveAtomically(
            dir.path("list").c_str(), dir.path("list.tmp").c_str(), [&](vp::platform::File& file) {
                RecordFile writer;
                if (!writer.OpenWriter(file, dir.path("list.tmp").c_str())) return false;
                // From here on the file takes no bytes, as a full disk would.
                file = vp::platform::File::open(dir.path("list").c_str(), vp::platform::FileOpen::Read,
                                                vp::platform::FileShare::Read);
                const uint32_t written = writer.WriteRecord(record.data(), c.length);
                const uint32_t ended = c.flush ? writer.flush() : writer.Close();
                EXPECT_EQ(written, c.written);
                EXPECT_EQ(ended, c.ended);
                EXPECT_EQ(writer.error(), RecordFile::kErrIo);
                return written && ended;
            });
        EXPECT_FALSE(saved);
        EXPECT_EQ(readBytes(dir.native() / "list"), kSignature + word(3) + "old");
        EXPECT_FALSE(std::filesystem::exists(dir.native() / "list.tmp"));
    }
}

#ifndef _WIN32
TEST(RecordFileTest, AFullDiskFailsTheWriteWithFourAndTheSave) {
    RecordFile file;
    EXPECT_EQ(file.Open("Z:\\dev\\full", RecordFile::kWriting), 0u);
    EXPECT_EQ(file.error(), RecordFile::kErrIo);
    EXPECT_EQ(file.IsOpen(), 0u);

    // A save whose last records wait in the buffer fails when the disk fills
    // before they are written: files may grow to 20 bytes here.
    TempDir dir;
    writeBytes(dir.native() / "list", kSignature);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small{20, before.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    const uint32_t saved = RecordFile::saveAtomically(dir.path("list").c_str(), dir.path("list.tmp").c_str(),
                                                      [](RecordFile& list) { return list.writeText("more than fits"); });
    ::setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(saved, 0u);
    EXPECT_EQ(readBytes(dir.native() / "list"), kSignature);
    EXPECT_FALSE(std::filesystem::exists(dir.native() / "list.tmp"));
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
