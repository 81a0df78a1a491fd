#pragma once
// The system writes every path with backslashes. On Windows that is the native
// form. On POSIX a path is mapped at the platform boundary: backslashes become
// slashes, and a drive prefix ("Z:\") stands for the root of the file system,
// the way Wine shows the Unix root, so that an absolute POSIX path survives the
// collapsing of leading backslashes that every path goes through.

#include <string>

namespace vp::platform {

// The operating system's form of a system path.
std::string toNativePath(const char* path);
// The system's form (backslashes, "Z:\" for the POSIX root) of a native path.
std::string fromNativePath(const std::string& nativePath);
// toNativePath, or an empty path when there is no memory for it. Every file
// operation refuses an empty path, so running out of memory fails the
// operation instead of throwing through it.
std::string nativePathOrEmpty(const char* path) noexcept;

} // namespace vp::platform
