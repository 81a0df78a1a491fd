#include "platform/File.h"

#include "platform/Path.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// POSIX has no share modes: FileShare is accepted and not enforced here. Only
// the Windows build (where the client runs) refuses conflicting opens.

namespace vp::platform {

namespace {

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

// Turns a native path into its folder's, in place: after a rename nothing may
// fail for want of memory. The short names fit in the string as it is.
void toParentFolder(std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) path.assign(1, '.');
    else path.resize(slash == 0 ? 1 : slash);
}

} // namespace

File File::open(const char* path, FileOpen how, FileShare /*share*/) {
    const std::string native = nativePathOrEmpty(path);
    if (native.empty()) return File();
    int flags = O_CLOEXEC;
    switch (how) {
    case FileOpen::Read: flags |= O_RDONLY; break;
    case FileOpen::CreateTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case FileOpen::Append: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    }
    int fd;
    do {
        fd = ::open(native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return File();
    // A directory opens for reading on POSIX but is no file to the system.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return File();
    }
    return File(fd);
}

bool File::isOpen() const { return m_handle >= 0; }

bool File::read(void* buffer, uint32_t count, uint32_t& transferred) {
    transferred = 0;
    if (!isOpen()) return false;
    auto* out = static_cast<char*>(buffer);
    while (transferred < count) {
        const ssize_t got = ::read(descriptor(m_handle), out + transferred, count - transferred);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;  // end of file
        transferred += static_cast<uint32_t>(got);
    }
    return true;
}

bool File::write(const void* bytes, uint32_t count, uint32_t& transferred) {
    transferred = 0;
    if (!isOpen()) return false;
    const auto* in = static_cast<const char*>(bytes);
    while (transferred < count) {
        const ssize_t put = ::write(descriptor(m_handle), in + transferred, count - transferred);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) return false;
        transferred += static_cast<uint32_t>(put);
    }
    return true;
}

bool File::size(uint64_t& bytes) const {
    bytes = 0;
    struct stat info {};
    if (!isOpen() || ::fstat(descriptor(m_handle), &info) != 0) return false;
    bytes = static_cast<uint64_t>(info.st_size);
    return true;
}

bool File::flush() { return isOpen() && ::fsync(descriptor(m_handle)) == 0; }

void File::close() {
    if (m_handle >= 0) ::close(descriptor(m_handle));
    m_handle = -1;
}

FileMapping FileMapping::mapReadOnly(const char* path) {
    FileMapping mapping;
    File file = File::open(path, FileOpen::Read, FileShare::Read);
    uint64_t bytes = 0;
    if (!file.isOpen() || !file.size(bytes)) return mapping;
    if (bytes == 0) {
        mapping.m_valid = true;
        return mapping;
    }
    // The descriptor may be closed once the view exists.
    void* view = ::mmap(nullptr, static_cast<size_t>(bytes), PROT_READ, MAP_PRIVATE, descriptor(file.m_handle), 0);
    if (view == MAP_FAILED) return mapping;
    mapping.m_data = static_cast<const uint8_t*>(view);
    mapping.m_size = bytes;
    mapping.m_valid = true;
    return mapping;
}

void FileMapping::reset() {
    if (m_data) ::munmap(const_cast<uint8_t*>(m_data), static_cast<size_t>(m_size));
    m_data = nullptr;
    m_size = 0;
    m_valid = false;
}

bool renameOver(const char* from, const char* to) {
    const std::string source = nativePathOrEmpty(from);
    std::string target = nativePathOrEmpty(to);
    if (source.empty() || target.empty() || ::rename(source.c_str(), target.c_str()) != 0) return false;
    // Make the new name itself durable; the data was flushed by the writer.
    toParentFolder(target);
    const int directory = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

bool deleteFile(const char* path) {
    const std::string native = nativePathOrEmpty(path);
    return !native.empty() && ::unlink(native.c_str()) == 0;
}

bool pathExists(const char* path) {
    const std::string native = nativePathOrEmpty(path);
    struct stat info {};
    return !native.empty() && ::stat(native.c_str(), &info) == 0;
}

} // namespace vp::platform
