#pragma once
// Files as the operating system gives them. Paths arrive in the system's own
// form, with backslashes ("C:\Vellumpost\Users\ann\Notes\NewNotes.nts"); the
// POSIX side maps them to its own form at this boundary (see Path.h).

#include <cstdint>

namespace vp::platform {

enum class FileOpen {
    Read,            // an existing file, for reading
    CreateTruncate,  // create, or truncate an existing file, for writing
    Append,          // open or create for writing, positioned at the end
};

enum class FileShare {
    Exclusive,  // nobody else may open the file while it is open here
    Read,       // others may open it for reading
};

// One open file. Move-only; the destructor closes it.
class File {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    ~File();

    // Opens path; isOpen() is false on failure. Where the platform enforces
    // sharing (Windows), an open that conflicts with another handle fails.
    static File open(const char* path, FileOpen how, FileShare share);

    bool isOpen() const;
    // Reads up to count bytes; transferred receives the bytes moved (0 at the
    // end of the file). false when the call itself failed.
    bool read(void* buffer, uint32_t count, uint32_t& transferred);
    // Writes count bytes; transferred receives the bytes moved. false when the
    // call failed.
    bool write(const void* bytes, uint32_t count, uint32_t& transferred);
    // The file's size in bytes; false when it cannot be read.
    bool size(uint64_t& bytes) const;
    // Pushes what was written down to the disk.
    bool flush();
    void close();

private:
    friend class FileMapping;
    explicit File(std::intptr_t handle) : m_handle(handle) {}
    std::intptr_t m_handle = -1;  // a file descriptor, or a Win32 HANDLE (-1 is INVALID_HANDLE_VALUE)
};

// A read-only view of a whole file. Move-only; the destructor unmaps it. An
// empty file maps as valid with size 0 and no data.
class FileMapping {
public:
    FileMapping() = default;
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;
    FileMapping(FileMapping&& other) noexcept;
    FileMapping& operator=(FileMapping&& other) noexcept;
    ~FileMapping();

    static FileMapping mapReadOnly(const char* path);

    bool isValid() const { return m_valid; }
    const uint8_t* data() const { return m_data; }
    uint64_t size() const { return m_size; }
    void reset();

private:
    const uint8_t* m_data = nullptr;
    uint64_t m_size = 0;
    bool m_valid = false;
};

// Renames from over to, replacing an existing file there in one step.
bool renameOver(const char* from, const char* to);
bool deleteFile(const char* path);
// true when a directory search finds path (a file or a directory).
bool pathExists(const char* path);

} // namespace vp::platform
