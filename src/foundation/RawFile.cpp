#include "foundation/RawFile.h"

namespace vp {

namespace {

platform::FileOpen openFor(uint32_t mode) {
    switch (mode) {
    case RawFile::kWrite: return platform::FileOpen::CreateTruncate;
    case RawFile::kAppend: return platform::FileOpen::Append;
    default: return platform::FileOpen::Read;
    }
}

} // namespace

RawFile::RawFile(const TextString& path, uint32_t mode)
    : m_file(platform::File::open(path.c_str(), openFor(mode), platform::FileShare::Exclusive)),
      m_mode(mode <= kAppend ? mode : kRead) {
    m_open = m_file.isOpen();
    m_lastResult = m_open ? 1 : 0;
}

uint32_t RawFile::Write(const void* bytes, uint32_t count) {
    if (!m_open || m_mode == kRead) return 0;
    if (count == 0) return 1;
    if (!bytes) return 0;
    const bool ok = m_file.write(bytes, count, m_lastWritten);
    m_lastResult = ok ? 1 : 0;
    return ok && m_lastWritten == count ? 1 : 0;
}

uint32_t RawFile::Read(void* buffer, uint32_t count) {
    if (!m_open || m_mode != kRead) return 0;
    if (count == 0) return 1;
    if (!buffer) return 0;
    const bool ok = m_file.read(buffer, count, m_lastRead);
    m_lastResult = ok ? 1 : 0;
    return ok && m_lastRead == count ? 1 : 0;
}

uint64_t RawFile::Size() const {
    uint64_t bytes = 0;
    if (!m_open || !m_file.size(bytes)) return 0;
    return bytes;
}

uint32_t RawFile::flush() {
    if (!m_open || m_mode == kRead) return 0;
    return m_file.flush() ? 1 : 0;
}

void RawFile::close() {
    m_file.close();
    m_open = false;
}

uint32_t RawFile::Exists(const TextString& path) { return platform::pathExists(path.c_str()) ? 1 : 0; }

} // namespace vp
