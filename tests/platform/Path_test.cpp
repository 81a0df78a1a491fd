#include "platform/Path.h"

#include <gtest/gtest.h>

using vp::platform::fromNativePath;
using vp::platform::toNativePath;

#ifdef _WIN32
TEST(PathTest, WindowsPathsPassThrough) {
    EXPECT_EQ(toNativePath("C:\\Vellumpost\\Users\\ann"), "C:\\Vellumpost\\Users\\ann");
    EXPECT_EQ(toNativePath("C:/mixed\\path"), "C:\\mixed\\path");
    EXPECT_EQ(fromNativePath("C:\\a\\b"), "C:\\a\\b");
}
#else
TEST(PathTest, PosixMapsBackslashesAndTheDriveRoot) {
    EXPECT_EQ(toNativePath("Z:\\var\\lib\\vp\\Notes\\NewNotes.nts"), "/var/lib/vp/Notes/NewNotes.nts");
    EXPECT_EQ(toNativePath("c:\\"), "/");
    EXPECT_EQ(toNativePath("Z:"), "/");
    EXPECT_EQ(toNativePath("Users\\ann"), "Users/ann");
    EXPECT_EQ(toNativePath(""), "");
    EXPECT_EQ(toNativePath(nullptr), "");
    EXPECT_EQ(fromNativePath("/tmp/x y/z"), "Z:\\tmp\\x y\\z");
    EXPECT_EQ(fromNativePath("relative/p"), "relative\\p");
    // A collapsed system path has lost its leading backslash, and the drive
    // keeps it absolute.
    EXPECT_EQ(toNativePath(fromNativePath("/srv/vp").c_str()), "/srv/vp");
}
#endif
