#include "ControlSocket.h"
#include "RunProgram.h"

#include <boost/asio.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <mutex>
#include <thread>

namespace vp::server {
namespace {

TEST(ControlSocket, AnnouncementsReachTheServer) {
    test::TempDir dir;
    const std::string path = (dir.native() / "control.sock").string();
    boost::asio::io_context io;
    std::mutex mutex;
    std::vector<std::string> announced;
    ControlSocket control(io, path, [&](std::string text) {
        std::lock_guard lock(mutex);
        announced.push_back(std::move(text));
    });
    ASSERT_TRUE(control.start());
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    ControlSocket second(io, path, [](std::string) {});
    EXPECT_FALSE(second.start()) << "a server already answers on the path";

    auto work = boost::asio::make_work_guard(io);
    std::thread runner([&io] { io.run(); });
    const struct {
        std::string line;
        std::string answer; // its start
    } exchanges[] = {
        {"announce Back at ten", "ok"},
        {"announce x\r", "ok"},
        {"announce ", "error the announcement is empty"},
        {"shutdown", "error unknown request"},
        {"announce " + std::string(ControlSocket::kMaxLineLength, 'a'), "error the request is longer than 4096 bytes"},
    };
    for (const auto& exchange : exchanges) {
        SCOPED_TRACE(exchange.line.substr(0, 20));
        std::string answer;
        EXPECT_EQ(ControlSocket::send(path, exchange.line, answer), ControlSocket::SendResult::Answered) << answer;
        EXPECT_EQ(answer.substr(0, exchange.answer.size()), exchange.answer);
    }
    const test::ProgramRun run = test::runServerProgram({"admin", "announce", "Server", "restarts", "--control-socket", path});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "The running server took the announcement.\n");

    boost::asio::post(io, [&control] { control.stop(); });
    work.reset();
    runner.join();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(announced, (std::vector<std::string>{"Back at ten", "x", "Server restarts"}));
    }
    EXPECT_FALSE(std::filesystem::exists(path)) << "a stopped server removes its socket";
    std::string answer;
    EXPECT_EQ(ControlSocket::send(path, "announce late", answer), ControlSocket::SendResult::NoServer);
    EXPECT_EQ(test::runServerProgram({"admin", "announce", "late", "--control-socket", path}).exitCode, 1);

    // A socket file left by a server that is gone is taken over.
    {
        boost::asio::local::stream_protocol::acceptor stale(io, boost::asio::local::stream_protocol::endpoint(path));
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(control.start());
}

} // namespace
} // namespace vp::server
