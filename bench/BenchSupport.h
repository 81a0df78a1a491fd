#pragma once
// What the benchmarks share: the median wall time of a piece of work over a
// number of rounds, a folder for the run, and a file read whole, as the
// baselines read one.

#include "platform/File.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vp::bench {

// Each round may first be prepared (a file put back as it was, say) outside
// the timed part.

inline double medianMilliseconds(int rounds, const std::function<void()>& prepare,
                                 const std::function<void()>& work) {
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        prepare();
        const auto start = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline double medianMilliseconds(int rounds, const std::function<void()>& work) {
    return medianMilliseconds(rounds, [] {}, work);
}

// A folder of its own for one run, in memory where the system has /dev/shm,
// removed with everything in it at the end.
class BenchFolder {
public:
    BenchFolder() {
        const std::filesystem::path memory = "/dev/shm";
        std::string pattern = ((std::filesystem::is_directory(memory) ? memory : std::filesystem::temp_directory_path()) /
                               "vp-bench-XXXXXX")
                                  .string();
        if (mkdtemp(pattern.data())) m_path = pattern;
    }
    ~BenchFolder() {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    std::string path(const char* name) const { return (m_path / name).string(); }
    const std::filesystem::path& root() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The whole file (a system path) in one read; empty when it cannot be read.
inline std::string readWholeFile(const char* path) {
    platform::File file = platform::File::open(path, platform::FileOpen::Read, platform::FileShare::Read);
    uint64_t size = 0;
    if (!file.isOpen() || !file.size(size)) return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    uint32_t got = 0;
    if (!file.read(bytes.data(), static_cast<uint32_t>(bytes.size()), got) || got != bytes.size()) return {};
    return bytes;
}

} // namespace vp::bench
