#pragma once
// The record file that every file the system writes itself is made of: a
// signature record ("IFFIO") and then length-prefixed records, each the bytes
// of one field of a serialised object. There are no record identifiers, so a
// reader must know the order of the fields it expects; it learns the size of
// each record (NextLength) before reading it.
//
//   offset 0  4 bytes  5, the signature's length (unsigned 32-bit little-endian)
//   offset 4  5 bytes  "IFFIO"
//   offset 9  4 bytes  length L1 of record 1, then L1 bytes, and so on.
//
// Records pass through a buffer of one block in either direction, so that a
// record costs a copy, not a system call. A writer's bytes reach its file when
// the block is full, on flush and on Close: a write that fails is reported by
// the call that finds it (error 4), which may be the flush or the Close after
// the record. A save therefore ends with Close (or flush) and checks it, as
// saveAtomically below does.

#include "foundation/TextString.h"
#include "platform/AtomicFile.h"
#include "platform/File.h"

#include <cstdint>
#include <memory>

namespace vp {

class RecordFile {
public:
    static constexpr uint32_t kReading = 0;
    static constexpr uint32_t kWriting = 1;

    // Error codes kept by the object after each operation.
    static constexpr uint32_t kErrNone = 0;
    static constexpr uint32_t kErrNotOpen = 1;
    static constexpr uint32_t kErrIo = 4;         // a read or write failed or fell short; the file is damaged
    static constexpr uint32_t kErrDirection = 5;  // read from a writer or write to a reader
    static constexpr uint32_t kErrNoBuffer = 6;
    static constexpr uint32_t kErrSignature = 7;  // the file does not begin with the signature record
    static constexpr uint32_t kErrLength = 8;     // the length asked for is not the next record's
    static constexpr uint32_t kErrEnd = 9;        // the last record has been read
    static constexpr uint32_t kErrOpen = 10;      // the file cannot be opened or created

    // The bytes one system call moves: the buffer's size.
    static constexpr uint32_t kBlockBytes = 64 * 1024;

    RecordFile() = default;
    RecordFile(const TextString& path, uint32_t direction);
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile();

    // Closes any open file, then opens path. Writing (direction 1) creates or
    // truncates the file and writes the signature; reading (any other value)
    // checks the signature and reads the first record's length. 1 on success;
    // on failure the file is closed and the error is 10, 4 or 7. The
    // signature of a new file is written at once, so a file that takes no
    // bytes fails here.
    uint32_t Open(const TextString& path, uint32_t direction);
    // Writes records into file, which the caller opened and keeps: the
    // temporary file of an atomic save. Writes the signature; Close leaves
    // the file open. 1 on success; on failure the error is 10 or 4.
    uint32_t OpenWriter(platform::File& file, const TextString& path);
    // 1 when a file was open and every record written to it got there; a
    // writer's last bytes that cannot be written give 0 and error 4. The file
    // is closed (or, from OpenWriter, let go) either way.
    uint32_t Close();
    uint32_t IsWriting() const { return m_direction != 0 ? 1 : 0; }
    uint32_t IsOpen() const { return m_file->isOpen() ? 1 : 0; }
    // The size of the record that the next ReadRecord returns; 0 at the end.
    uint32_t NextLength() const { return m_nextLength; }

    // Writes the length word and then the bytes. 1 on success.
    uint32_t WriteRecord(const void* bytes, uint32_t length);
    // Writes the records of reader's file that end at or before end (a
    // recordsEnd of that reader) behind the records written so far, copied
    // from the file in blocks rather than record by record. 1 on success; a
    // file that cannot be read as far as end fails the write with error 4.
    uint32_t copyRecords(const RecordFile& reader, uint64_t end);
    // Reads the next record; length must equal NextLength. After the bytes the
    // following length word is read: at the end of the file the error becomes
    // 9 and NextLength 0, and the result is still 1.
    uint32_t ReadRecord(void* buffer, uint32_t length);
    // While reading: the offset in the file just past the last record read
    // (past the signature before the first).
    uint64_t recordsEnd() const { return m_recordsEnd; }

    // Field helpers over WriteRecord / ReadRecord for the common field kinds.
    uint32_t writeUint32(uint32_t value);
    // Fails with error 8 (nothing read) when the next record is not 4 bytes.
    uint32_t readUint32(uint32_t& value);
    uint32_t writeText(const TextString& text);
    // Reads the next record, whatever its length, as a text.
    uint32_t readText(TextString& text);
    // Reads the next record into scratch space and drops it.
    uint32_t skipRecord();

    // Pushes everything written so far to the disk, for saves that must be
    // complete before a rename puts the file in place. 1 on success; 0 when
    // the buffered bytes cannot be written (error 4) or the disk refuses.
    uint32_t flush();

    // Replaces the file at path in one step (platform/AtomicFile.h) with a
    // record file of what write(RecordFile&) writes, through temporary: only
    // once write returned true and the file closed with every record in it.
    // A write refused at any point keeps the old file. 1 on success.
    template <typename Write>
    static uint32_t saveAtomically(const TextString& path, const TextString& temporary, Write write) {
        return platform::saveAtomically(path.c_str(), temporary.c_str(), [&](platform::File& file) {
            RecordFile records;
            return records.OpenWriter(file, temporary) && write(records) && records.Close();
        }) ? 1 : 0;
    }

    uint32_t error() const { return m_error; }
    uint32_t transferCount() const { return m_transferCount; }
    const TextString& path() const { return m_path; }

private:
    uint32_t guard(uint32_t direction);
    // Takes count bytes from the buffer, refilling it as needed; a count of
    // a block or more beyond what is buffered is read straight into buffer.
    uint32_t readExact(void* buffer, uint32_t count);
    // Puts count bytes into the buffer, writing it out when it is full; a
    // count of a block or more goes straight to the file.
    uint32_t writeExact(const void* bytes, uint32_t count);
    // Writes out the buffered bytes; on failure they are dropped and the
    // error is 4.
    uint32_t writeBuffered();
    uint32_t writeToFile(const void* bytes, uint32_t count);
    // Reads the length word of the record that comes next.
    void readNextLength();
    void failOpen(uint32_t error);
    uint32_t reset(const TextString& path, uint32_t direction);
    uint32_t writeSignature();
    uint64_t remaining() const { return m_consumed < m_size ? m_size - m_consumed : 0; }

    TextString m_path;
    platform::File m_ownFile;
    // The file written or read: m_ownFile, or the caller's file of OpenWriter.
    platform::File* m_file = &m_ownFile;
    uint32_t m_direction = kWriting;
    uint32_t m_error = kErrNone;
    uint32_t m_transferCount = 0;
    uint32_t m_nextLength = 0;
    // While reading: the file's size and the bytes taken from it so far, so
    // that a length word can be checked against what is left before anything
    // is allocated for it.
    uint64_t m_size = 0;
    uint64_t m_consumed = 0;
    uint64_t m_recordsEnd = 0;

    // One block, made by the first Open and kept for the next: while writing
    // m_buffered bytes wait to be written; while reading the bytes from
    // m_bufferStart to m_buffered are read from the file but not yet taken.
    std::unique_ptr<uint8_t[]> m_buffer;
    uint32_t m_bufferStart = 0;
    uint32_t m_buffered = 0;
};

} // namespace vp
