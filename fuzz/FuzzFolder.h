#pragma once
// A folder of the fuzz run's own, where file targets put each input before
// the code under test reads it. Made once per run, beside the system's
// temporary files (the process id keeps parallel runs apart), and removed
// when the run ends.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace vp::fuzz {

inline const std::filesystem::path& folder();

inline void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder(), ignored);
}

inline const std::filesystem::path& folder() {
    static const std::filesystem::path path = [] {
        std::filesystem::path made =
            std::filesystem::temp_directory_path() / ("vellumpost-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(made);
        return made;
    }();
    // Registered after the path itself, so it runs while the path still lives.
    static const bool removedAtExit = std::atexit(removeFolder) == 0;
    (void)removedAtExit;
    return path;
}

// Writes the input to path, replacing what was there.
inline void writeInput(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace vp::fuzz
