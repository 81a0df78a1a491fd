#include "platform/File.h"

#include "platform/Path.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace vp::platform {

namespace {

HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

constexpr std::intptr_t kInvalid = -1;  // INVALID_HANDLE_VALUE

} // namespace

File File::open(const char* path, FileOpen how, FileShare share) {
    const std::string native = nativePathOrEmpty(path);
    if (native.empty()) return File();
    DWORD access = GENERIC_WRITE;
    DWORD disposition = OPEN_ALWAYS;
    switch (how) {
    case FileOpen::Read:
        access = GENERIC_READ;
        disposition = OPEN_EXISTING;
        break;
    case FileOpen::CreateTruncate: disposition = CREATE_ALWAYS; break;
    case FileOpen::Append: disposition = OPEN_ALWAYS; break;
    }
    const DWORD shareMode = (share == FileShare::Read) ? FILE_SHARE_READ : 0;
    HANDLE handle = CreateFileA(native.c_str(), access, shareMode, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return File();
    if (how == FileOpen::Append && SetFilePointer(handle, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
        GetLastError() != NO_ERROR) {
        CloseHandle(handle);
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(handle));
}

bool File::isOpen() const { return m_handle != kInvalid; }

bool File::read(void* buffer, uint32_t count, uint32_t& transferred) {
    transferred = 0;
    if (!isOpen()) return false;
    auto* out = static_cast<char*>(buffer);
    while (transferred < count) {
        DWORD got = 0;
        if (!ReadFile(handleOf(m_handle), out + transferred, count - transferred, &got, nullptr)) return false;
        if (got == 0) break;  // end of file
        transferred += got;
    }
    return true;
}

bool File::write(const void* bytes, uint32_t count, uint32_t& transferred) {
    transferred = 0;
    if (!isOpen()) return false;
    const auto* in = static_cast<const char*>(bytes);
    while (transferred < count) {
        DWORD put = 0;
        if (!WriteFile(handleOf(m_handle), in + transferred, count - transferred, &put, nullptr) || put == 0)
            return false;
        transferred += put;
    }
    return true;
}

bool File::size(uint64_t& bytes) const {
    bytes = 0;
    LARGE_INTEGER value{};
    if (!isOpen() || !GetFileSizeEx(handleOf(m_handle), &value)) return false;
    bytes = static_cast<uint64_t>(value.QuadPart);
    return true;
}

bool File::flush() { return isOpen() && FlushFileBuffers(handleOf(m_handle)); }

void File::close() {
    if (isOpen()) CloseHandle(handleOf(m_handle));
    m_handle = kInvalid;
}

FileMapping FileMapping::mapReadOnly(const char* path) {
    FileMapping mapping;
    File file = File::open(path, FileOpen::Read, FileShare::Read);
    uint64_t bytes = 0;
    if (!file.isOpen() || !file.size(bytes)) return mapping;
    if (bytes == 0) {
        // A mapping object of an empty file cannot be created; there is
        // nothing to view either.
        mapping.m_valid = true;
        return mapping;
    }
    HANDLE section = CreateFileMappingA(handleOf(file.m_handle), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!section) return mapping;
    // The view keeps the section and the file alive once both handles close.
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(section);
    if (!view) return mapping;
    mapping.m_data = static_cast<const uint8_t*>(view);
    mapping.m_size = bytes;
    mapping.m_valid = true;
    return mapping;
}

void FileMapping::reset() {
    if (m_data) UnmapViewOfFile(m_data);
    m_data = nullptr;
    m_size = 0;
    m_valid = false;
}

bool renameOver(const char* from, const char* to) {
    const std::string source = nativePathOrEmpty(from);
    const std::string target = nativePathOrEmpty(to);
    return !source.empty() && !target.empty() &&
           MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool deleteFile(const char* path) {
    const std::string native = nativePathOrEmpty(path);
    return !native.empty() && DeleteFileA(native.c_str()) != 0;
}

bool pathExists(const char* path) {
    const std::string native = nativePathOrEmpty(path);
    // A search pattern would match other names; such a name cannot exist.
    if (native.empty() || native.find_first_of("*?") != std::string::npos) return false;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(native.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

} // namespace vp::platform
