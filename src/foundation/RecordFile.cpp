#include "foundation/RecordFile.h"
#include "foundation/LittleEndian.h"

#include <cstring>
#include <memory>
#include <new>

namespace vp {

namespace {

constexpr char kSignature[] = "IFFIO";
constexpr uint32_t kSignatureLength = 5;

} // namespace

RecordFile::RecordFile(const TextString& path, uint32_t direction) { Open(path, direction); }

RecordFile::~RecordFile() { Close(); }

void RecordFile::reset(const TextString& path, uint32_t direction) {
    Close();
    m_path = path;
    m_direction = (direction == kWriting) ? kWriting : kReading;
    m_error = kErrNone;
    m_transferCount = 0;
    m_nextLength = 0;
    m_remaining = 0;
}

uint32_t RecordFile::writeSignature() {
    if (!m_file->isOpen()) {
        failOpen(kErrOpen);
        return 0;
    }
    if (!WriteRecord(kSignature, kSignatureLength)) {
        failOpen(kErrIo);
        return 0;
    }
    return 1;
}

uint32_t RecordFile::OpenWriter(platform::File& file, const TextString& path) {
    reset(path, kWriting);
    m_file = &file;
    return writeSignature();
}

uint32_t RecordFile::Open(const TextString& path, uint32_t direction) {
    reset(path, direction);
    if (direction == kWriting) {
        m_ownFile = platform::File::open(path.c_str(), platform::FileOpen::CreateTruncate, platform::FileShare::Read);
        return writeSignature();
    }

    m_ownFile = platform::File::open(path.c_str(), platform::FileOpen::Read, platform::FileShare::Read);
    if (!m_ownFile.isOpen() || !m_ownFile.size(m_remaining)) {
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
    // The file is a record file from here on. A damaged first length word is
    // reported by the first read (error 4), like any later damage, so that a
    // caller can tell a damaged file from a missing or foreign one.
    readNextLength();
    return 1;
}

void RecordFile::failOpen(uint32_t error) {
    Close();
    m_error = error;
    m_nextLength = 0;
    m_remaining = 0;
}

uint32_t RecordFile::Close() {
    const bool wasOpen = m_file->isOpen();
    // A caller's file stays open; it is only let go.
    if (m_file == &m_ownFile) m_ownFile.close();
    m_file = &m_ownFile;
    return wasOpen ? 1 : 0;
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
    readNextLength();
    return 1;
}

void RecordFile::readNextLength() {
    m_nextLength = 0;
    uint8_t word[4];
    uint32_t got = 0;
    const bool ok = m_file->read(word, 4, got);
    m_transferCount = got;
    if (ok && got == 0) {
        m_error = kErrEnd;
        return;
    }
    if (!ok || got != 4) {
        m_error = kErrIo;
        return;
    }
    m_remaining -= 4;
    const uint32_t length = readLittleEndian32(word);
    // A length past the end of the file is damage, not a record: nothing is
    // ever allocated for it.
    if (length > m_remaining) {
        m_error = kErrIo;
        return;
    }
    m_nextLength = length;
}

uint32_t RecordFile::readExact(void* buffer, uint32_t count) {
    uint32_t got = 0;
    const bool ok = m_file->read(buffer, count, got);
    m_transferCount = got;
    m_remaining = (got <= m_remaining) ? m_remaining - got : 0;
    if (!ok || got != count) {
        m_error = kErrIo;
        return 0;
    }
    return 1;
}

uint32_t RecordFile::writeExact(const void* bytes, uint32_t count) {
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
    return m_file->flush() ? 1 : 0;
}

} // namespace vp
