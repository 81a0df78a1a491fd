#pragma once
// A fresh folder for one test, removed again with everything in it.

#include <filesystem>
#include <string>

namespace vp::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder in the operating system's own form.
    const std::filesystem::path& native() const { return m_path; }
    // A path inside the folder in the system's form (backslashes), as the
    // code under test receives paths: relative may use '\' or '/'.
    std::string path(const std::string& relative = "") const;

private:
    std::filesystem::path m_path;
};

} // namespace vp::test
