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

#include "foundation/TextString.h"
#include "platform/File.h"

#include <cstdint>

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

    RecordFile() = default;
    RecordFile(const TextString& path, uint32_t direction);
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile();

    // Closes any open file, then opens path. Writing (direction 1) creates or
    // truncates the file and writes the signature; reading (any other value)
    // checks the signature and reads the first record's length. 1 on success;
    // on failure the file is closed and the error is 10, 4 or 7.
    uint32_t Open(const TextString& path, uint32_t direction);
    // Writes records into file, which the caller opened and keeps: the
    // temporary file of an atomic save. Writes the signature; Close leaves
    // the file open. 1 on success; on failure the error is 10 or 4.
    uint32_t OpenWriter(platform::File& file, const TextString& path);
    // 1 when a file was open.
    uint32_t Close();
    uint32_t IsWriting() const { return m_direction != 0 ? 1 : 0; }
    uint32_t IsOpen() const { return m_file->isOpen() ? 1 : 0; }
    // The size of the record that the next ReadRecord returns; 0 at the end.
    uint32_t NextLength() const { return m_nextLength; }

    // Writes the length word and then the bytes. 1 on success.
    uint32_t WriteRecord(const void* bytes, uint32_t length);
    // Reads the next record; length must equal NextLength. After the bytes the
    // following length word is read: at the end of the file the error becomes
    // 9 and NextLength 0, and the result is still 1.
    uint32_t ReadRecord(void* buffer, uint32_t length);

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
    // complete before a rename puts the file in place. 1 on success.
    uint32_t flush();

    uint32_t error() const { return m_error; }
    uint32_t transferCount() const { return m_transferCount; }
    const TextString& path() const { return m_path; }

private:
    uint32_t guard(uint32_t direction);
    uint32_t readExact(void* buffer, uint32_t count);
    uint32_t writeExact(const void* bytes, uint32_t count);
    // Reads the length word of the record that comes next.
    void readNextLength();
    void failOpen(uint32_t error);
    void reset(const TextString& path, uint32_t direction);
    uint32_t writeSignature();

    TextString m_path;
    platform::File m_ownFile;
    // The file written or read: m_ownFile, or the caller's file of OpenWriter.
    platform::File* m_file = &m_ownFile;
    uint32_t m_direction = kWriting;
    uint32_t m_error = kErrNone;
    uint32_t m_transferCount = 0;
    uint32_t m_nextLength = 0;
    // While reading: the bytes of the file not yet consumed, so that a length
    // word can be checked before anything is allocated for it.
    uint64_t m_remaining = 0;
};

} // namespace vp
