#pragma once
// A plain file of bytes: rich-text files and attachments. Nobody else may open
// the file while it is open here.

#include "foundation/TextString.h"
#include "platform/File.h"

#include <cstdint>

namespace vp {

class RawFile {
public:
    static constexpr uint32_t kRead = 0;    // an existing file
    static constexpr uint32_t kWrite = 1;   // created or truncated
    static constexpr uint32_t kAppend = 2;  // opened or created, written at the end

    RawFile(const TextString& path, uint32_t mode);
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    uint32_t IsOpen() const { return m_open ? 1 : 0; }
    // Modes 1 and 2: 1 when every byte was written; a count of 0 gives 1, no
    // buffer gives 0.
    uint32_t Write(const void* bytes, uint32_t count);
    // Mode 0: 1 only when exactly count bytes were read.
    uint32_t Read(void* buffer, uint32_t count);
    // The file's size in bytes, or 0 when it is not open.
    uint64_t Size() const;
    // Pushes what was written down to the disk.
    uint32_t flush();
    void close();

    // 1 when a directory search finds path (a file or a directory).
    static uint32_t Exists(const TextString& path);

    uint32_t mode() const { return m_mode; }
    uint32_t lastRead() const { return m_lastRead; }
    uint32_t lastWritten() const { return m_lastWritten; }
    // The result of the last platform call (1 success, 0 failure).
    uint32_t lastResult() const { return m_lastResult; }

private:
    platform::File m_file;
    uint32_t m_mode;
    uint32_t m_lastRead = 0;
    uint32_t m_lastWritten = 0;
    uint32_t m_lastResult = 0;
    bool m_open = false;
};

} // namespace vp
