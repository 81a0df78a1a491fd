#include "platform/AtomicFile.h"

#include "support/Bytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace vp::platform;
using vp::test::readBytes;
using vp::test::TempDir;
using vp::test::writeBytes;

// Every way a save can end: the file replaced whole, or left as it was; never
// a temporary file left behind.
TEST(AtomicFileTest, ReplacesTheFileWholeOrLeavesItAsItWas) {
    const struct {
        const char* what;
        const char* folder;   // where the save puts the file and its temporary
        bool writes;          // what the write step answers
        bool targetIsFolder;  // no rename replaces a folder
        bool called;          // the write step runs only on a temporary file that was made
        bool saved;
    } cases[] = {
        {"saved", "", true, false, true, true},
        {"the write step gives up", "", false, false, true, false},
        {"the folder cannot be written", "missing\\", true, false, false, false},
        {"the rename fails", "", true, true, true, false},
    };
    for (const auto& each : cases) {
        TempDir dir;
        const std::string path = dir.path(std::string(each.folder) + "List.anc");
        const std::string temporary = dir.path(std::string(each.folder) + "temp");
        if (each.targetIsFolder) std::filesystem::create_directories(dir.native() / "List.anc" / "entry");
        else writeBytes(dir.native() / "List.anc", "old");
        bool called = false;
        const bool saved = saveAtomically(path.c_str(), temporary.c_str(), [&](File& file) {
            called = true;
            uint32_t moved = 0;
            return file.write("new", 3, moved) && each.writes;
        });
        EXPECT_EQ(saved, each.saved) << each.what;
        EXPECT_EQ(called, each.called) << each.what;
        EXPECT_FALSE(pathExists(temporary.c_str())) << each.what;
        if (each.targetIsFolder) EXPECT_TRUE(std::filesystem::is_directory(dir.native() / "List.anc")) << each.what;
        else EXPECT_EQ(readBytes(dir.native() / "List.anc"), each.saved ? "new" : "old") << each.what;
    }
}
