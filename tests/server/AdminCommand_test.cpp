#include "RunProgram.h"
#include "storage/PasswordHash.h"
#include "storage/SqliteStorage.h"

#include <gtest/gtest.h>

namespace vp::server {
namespace {

// The admin commands an operator runs one after another on one database,
// with the password piped in, each with its exit code and what it prints.
TEST(AdminCommand, AccountsChangedByTheProgram) {
    test::TempDir dir;
    const std::string database = (dir.native() / "accounts.db").string();
    const struct {
        std::vector<std::string> args;
        std::string input;
        int exitCode;
        std::string printed; // the whole of standard output, or a part of the error text
    } steps[] = {
        {{"add-user", " Ann  Smith"}, "first pass\n", 0, "Added ann smith.\n"},
        {{"add-user", "bob"}, "bobs pass", 0, "Added bob.\n"},
        {{"add-user", "ANN SMITH"}, "other pass\n", 1, "already registered"},
        {{"add-user", "ann@mainhub"}, "pass\n", 2, "cannot contain '@'"},
        {{"add-user", "carl"}, "abc\n", 2, "at least 4 characters"},
        {{"add-user", "carl"}, "", 2, "No password on standard input"},
        {{"list"}, "", 0, "ann smith\nbob\n"},
        {{"passwd", "Ann Smith"}, "second pass\r\n", 0, "Changed the password of ann smith.\n"},
        {{"passwd", "dave"}, "pass\n", 1, "No user named dave"},
        {{"del-user", "BOB"}, "", 0, "Removed bob and the notes left for it.\n"},
        {{"del-user", "bob"}, "", 1, "No user named bob"},
        {{"list"}, "", 0, "ann smith\n"},
    };
    for (const auto& step : steps) {
        std::vector<std::string> args = {"admin"};
        args.insert(args.end(), step.args.begin(), step.args.end());
        args.insert(args.end(), {"--database", database});
        SCOPED_TRACE(step.args.front() + " " + (step.args.size() > 1 ? step.args[1] : ""));
        const test::ProgramRun run = test::runServerProgram(args, step.input);
        EXPECT_EQ(run.exitCode, step.exitCode) << run.err;
        if (step.exitCode == 0)
            EXPECT_EQ(run.out, step.printed);
        else
            EXPECT_NE(run.err.find(step.printed), std::string::npos) << run.err;
    }
    const auto storage = SqliteStorage::open(database);
    ASSERT_TRUE(storage);
    const auto hash = storage->passwordHash("ann smith");
    ASSERT_TRUE(hash);
    EXPECT_TRUE(verifyPassword(*hash, "second pass"));
    EXPECT_FALSE(verifyPassword(*hash, "first pass"));
}

} // namespace
} // namespace vp::server
