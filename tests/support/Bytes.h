#pragma once
// Reading and writing whole files byte for byte, beside the code under test,
// so that layouts are checked against literal bytes.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vp::test {

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Literal bytes written as a string: bytes("\x05\x00\x00\x00", 4).
inline std::string bytes(const char* data, std::size_t count) { return std::string(data, count); }

} // namespace vp::test
