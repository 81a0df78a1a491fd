#include "foundation/RecordFile.h"
#include "foundation/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace vp {

namespace {

constexpr char kSignature[] = "IFFIO";
constexpr uint32_t kSignatureLength = 5;
// The signature record's length word and bytes.
constexpr uint64_t kSignatureRecordBytes = 4 + kSignatureLength;

} // namespace

RecordFile::RecordFile(const TextString& path, uint32_t direction) { Open(path, direction); }

RecordFile::~RecordFile() { Close(); }

uint32_t RecordFile::reset(const TextString& path, uint32_t direction) {
    Close();
    m_path = path;
    m_direction = (direction == kWriting) ? kWriting : kReading;
    m_error = kErrNone;
    m_transferCount = 0;
    m_nextLength = 0;
    m_size = 0;
    m_consumed = 0;
    m_recordsEnd = 0;
    m_bufferStart = 0;
    m_buffered = 0;
    // Without memory for its block no file is opened: the error is 10.
    if (!m_buffer) m_buffer.reset(new (std::nothrow) uint8_t[kBlockBytes]);
    return m_buffer ? 1 : 0;
}

uint32_t RecordFile::writeSignature() {
    if (!m_file->isOpen()) {
        failOpen(kErrOpen);
        return 0;
    }
    // Written through at once, so that a file that takes no bytes (a full
    // disk) fails its open as it always has.
    if (!WriteRecord(kSignature, kSignatureLength) || !writeBuffered()) {
        failOpen(kErrIo);
        return 0;
    }
    return 1;
}

uint32_t RecordFile::OpenWriter(platform::File& file, const TextString& path) {
    if (!reset(path, kWriting)) {
        failOpen(kErrOpen);
        return 0;
    }
    m_file = &file;
    return writeSignature();
}

uint32_t RecordFile::Open(const TextString& path, uint32_t direction) {
    if (!reset(path, direction)) {
        failOpen(kErrOpen);
        return 0;
    }
    if (direction == kWriting) {
        m_ownFile = platform::File::open(path.c_str(), platform::FileOpen::CreateTruncate, platform::FileShare::Read);
        return writeSignature();
    }

    m_ownFile = platform::File::open(path.c_str(), platform::FileOpen::Read, platform::FileShare::Read);
    if (!m_ownFile.isOpen() || !m_ownFile.size(m_size)) {
        failOpen(kErrOpen);
        return 0;
    }
    uint8_t word[4];
    if (!readExact(word, 4)) {
        failOpen(kErrIo);
        return 0;
    }
    // A signature record is five bytes long; any other first length word
    // (a text file's first four letters, say) means this is no record file.
    if (readLittleEndian32(word) != kSignatureLength) {
        failOpen(kErrSignature);
        return 0;
    }
    char signature[kSignatureLength];
    if (!readExact(signature, kSignatureLength)) {
        failOpen(kErrIo);
        return 0;
    }
    if (std::memcmp(signature, kSignature, kSignatureLength) != 0) {
        failOpen(kErrSignature);
        return 0;
    }
    m_recordsEnd = kSignatureRecordBytes;
    // The file is a record file from here on. A damaged first length word is
    // reported by the first read (error 4), like any later damage, so that a
    // caller can tell a damaged file from a missing or foreign one.
    readNextLength();
    return 1;
}

void RecordFile::failOpen(uint32_t error) {
    // Nothing of a file that failed to open is worth writing out.
    m_buffered = 0;
    Close();
    m_error = error;
    m_nextLength = 0;
    m_size = 0;
    m_consumed = 0;
}

uint32_t RecordFile::Close() {
    const bool wasOpen = m_file->isOpen();
    const bool written = !wasOpen || m_direction != kWriting || writeBuffered();
    m_bufferStart = 0;
    m_buffered = 0;
    // A caller's file stays open; it is only let go.
    if (m_file == &m_ownFile) m_ownFile.close();
    m_file = &m_ownFile;
    return wasOpen && written ? 1 : 0;
}

uint32_t RecordFile::guard(uint32_t direction) {
    // Errors 4 and 7 are permanent for this open file.
    if (m_error == kErrIo || m_error == kErrSignature) return 0;
    m_error = kErrNone;
    if ((m_direction == kWriting) != (direction == kWriting)) {
        m_error = kErrDirection;
        return 0;
    }
    if (!m_file->isOpen()) {
        m_error = kErrNotOpen;
        return 0;
    }
    return 1;
}

uint32_t RecordFile::WriteRecord(const void* bytes, uint32_t length) {
    if (!guard(kWriting)) return 0;
    if (!bytes) {
        m_error = kErrNoBuffer;
        return 0;
    }
    uint8_t word[4];
    writeLittleEndian32(word, length);
    if (!writeExact(word, 4) || !writeExact(bytes, length)) return 0;
    return 1;
}

uint32_t RecordFile::copyRecords(const RecordFile& reader, uint64_t end) {
    if (!guard(kWriting)) return 0;
    if (end <= kSignatureRecordBytes) return 1;
    // The records go behind those written so far, and the block is needed to
    // carry them.
    if (!writeBuffered()) return 0;
    platform::File source =
        platform::File::open(reader.path().c_str(), platform::FileOpen::Read, platform::FileShare::Read);
    if (!source.isOpen()) {
        m_error = kErrIo;
        return 0;
    }
    for (uint64_t position = 0; position < end;) {
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kBlockBytes, end - position));
        uint32_t got = 0;
        const bool read = source.read(m_buffer.get(), count, got);
        m_transferCount = got;
        if (!read || got != count) {
            m_error = kErrIo;
            return 0;
        }
        // The first block begins with the signature, which this file has.
        const uint32_t skip = position == 0 ? static_cast<uint32_t>(kSignatureRecordBytes) : 0;
        if (!writeToFile(m_buffer.get() + skip, count - skip)) return 0;
        position += count;
    }
    return 1;
}

uint32_t RecordFile::ReadRecord(void* buffer, uint32_t length) {
    if (!guard(kReading)) return 0;
    if (length != m_nextLength) {
        m_error = kErrLength;
        return 0;
    }
    if (length != 0 && !buffer) {
        m_error = kErrNoBuffer;
        return 0;
    }
    if (length != 0 && !readExact(buffer, length)) return 0;
    m_recordsEnd = m_consumed;
    readNextLength();
    return 1;
}

void RecordFile::readNextLength() {
    m_nextLength = 0;
    // The word may straddle the end of the block: what is left moves to the
    // front and the rest of the block is read behind it.
    uint32_t available = m_buffered - m_bufferStart;
    if (available < 4) {
        std::memmove(m_buffer.get(), m_buffer.get() + m_bufferStart, available);
        m_bufferStart = 0;
        m_buffered = available;
        uint32_t got = 0;
        const bool ok = m_file->read(m_buffer.get() + available, kBlockBytes - available, got);
        m_transferCount = got;
        if (!ok) {
            m_error = kErrIo;
            return;
        }
        m_buffered += got;
        available += got;
    }
    if (available == 0) {
        m_error = kErrEnd;
        return;
    }
    if (available < 4) {
        m_error = kErrIo;
        return;
    }
    const uint32_t length = readLittleEndian32(m_buffer.get() + m_bufferStart);
    m_bufferStart += 4;
    m_consumed += 4;
    // A length past the end of the file is damage, not a record: nothing is
    // ever allocated for it.
    if (length > remaining()) {
        m_error = kErrIo;
        return;
    }
    m_nextLength = length;
}

uint32_t RecordFile::readExact(void* buffer, uint32_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    for (;;) {
        const uint32_t take = std::min(count - done, m_buffered - m_bufferStart);
        std::memcpy(out + done, m_buffer.get() + m_bufferStart, take);
        m_bufferStart += take;
        done += take;
        m_consumed += take;
        if (done == count) return 1;

        // The buffer is empty here. A large rest skips it; a small one
        // refills it with the next block.
        uint8_t* target = count - done >= kBlockBytes ? out + done : m_buffer.get();
        const uint32_t wanted = count - done >= kBlockBytes ? count - done : kBlockBytes;
        m_bufferStart = 0;
        m_buffered = 0;
        uint32_t got = 0;
        const bool ok = m_file->read(target, wanted, got);
        m_transferCount = got;
        if (!ok || got == 0 || (target != m_buffer.get() && got != wanted)) {
            m_error = kErrIo;
            return 0;
        }
        if (target != m_buffer.get()) {
            m_consumed += got;
            return 1;
        }
        m_buffered = got;
    }
}

uint32_t RecordFile::writeExact(const void* bytes, uint32_t count) {
    if (count <= kBlockBytes - m_buffered) {
        std::memcpy(m_buffer.get() + m_buffered, bytes, count);
        m_buffered += count;
        return 1;
    }
    if (!writeBuffered()) return 0;
    if (count >= kBlockBytes) return writeToFile(bytes, count);
    std::memcpy(m_buffer.get(), bytes, count);
    m_buffered = count;
    return 1;
}

uint32_t RecordFile::writeBuffered() {
    const uint32_t count = m_buffered;
    m_buffered = 0;
    return writeToFile(m_buffer.get(), count);
}

uint32_t RecordFile::writeToFile(const void* bytes, uint32_t count) {
    if (count == 0) return 1;
    uint32_t put = 0;
    const bool ok = m_file->write(bytes, count, put);
    m_transferCount = put;
    if (!ok || put != count) {
        m_error = kErrIo;
        return 0;
    }
    return 1;
}

uint32_t RecordFile::writeUint32(uint32_t value) {
    uint8_t bytes[4];
    writeLittleEndian32(bytes, value);
    return WriteRecord(bytes, 4);
}

uint32_t RecordFile::readUint32(uint32_t& value) {
    uint8_t bytes[4];
    if (!ReadRecord(bytes, 4)) return 0;
    value = readLittleEndian32(bytes);
    return 1;
}

uint32_t RecordFile::writeText(const TextString& text) {
    static const char empty = 0;
    return WriteRecord(text.data() ? text.data() : &empty, text.length());
}

uint32_t RecordFile::readText(TextString& text) {
    // NextLength never exceeds what is left of the file.
    TextString value(nullptr, m_nextLength);
    if (!value.isValid()) return 0;
    if (!ReadRecord(value.data(), value.length())) return 0;
    text = std::move(value);
    return 1;
}

uint32_t RecordFile::skipRecord() {
    std::unique_ptr<uint8_t[]> scratch(m_nextLength ? new (std::nothrow) uint8_t[m_nextLength] : nullptr);
    if (m_nextLength && !scratch) return 0;
    return ReadRecord(scratch.get(), m_nextLength);
}

uint32_t RecordFile::flush() {
    if (!m_file->isOpen() || m_direction != kWriting) return 0;
    if (!writeBuffered()) return 0;
    return m_file->flush() ? 1 : 0;
}

} // namespace vp
