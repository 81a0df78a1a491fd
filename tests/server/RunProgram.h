#pragma once
// Runs the server program as an operator would: a command through the
// shell with the given standard input, keeping what it printed and its exit
// code; or the server itself in the background on a test's database
// (support/ServerProcess.h).

#include "support/Bytes.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace vp::test {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline ProgramRun runServerProgram(const std::vector<std::string>& args, const std::string& input = "") {
    TempDir dir;
    writeBytes(dir.native() / "in", input);
    std::string command = shellQuoted(VP_SERVER_PROGRAM);
    for (const std::string& arg : args) command += ' ' + shellQuoted(arg);
    command += " <" + shellQuoted((dir.native() / "in").string()) + " >" + shellQuoted((dir.native() / "out").string()) +
               " 2>" + shellQuoted((dir.native() / "err").string());
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readBytes(dir.native() / "out");
    run.err = readBytes(dir.native() / "err");
    return run;
}

} // namespace vp::test
