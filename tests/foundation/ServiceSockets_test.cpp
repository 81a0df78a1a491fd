// A service whose workers wait on real sockets, stopped while they wait: the
// cooperative kill must reach a worker blocked inside the socket layer.
#include "foundation/Service.h"
#include "foundation/TcpSocket.h"

#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>

namespace vp {
namespace {

constexpr std::uintptr_t kReceive = 2;  // connect to the port in args[1], then wait for data
constexpr std::uintptr_t kAccept = 3;   // wait for a connection that never comes

class SocketService : public Service {
public:
    ~SocketService() override { stop(); }

    std::atomic<uint32_t> waiting{0};
    std::atomic<uint32_t> ended{0};

protected:
    uint32_t handleRequest(uint32_t sender, uint32_t, const std::uintptr_t* args) override {
        const std::uintptr_t code = args[0];
        const auto port = static_cast<uint16_t>(args[1]);
        TcpSocket socket;
        ScopedCancelAction cancel([&socket] { socket.Cancel(); });
        uint8_t byte = 0;
        uint32_t result = 0;
        if (code == kReceive && socket.Connect("127.0.0.1", port)) {
            ++waiting;
            result = socket.Recv(&byte, 1);
        } else if (code == kAccept && socket.Bind(0, "127.0.0.1") && socket.Listen()) {
            ++waiting;
            result = socket.Accept().IsConnected();
        }
        ++ended;
        // Suppressed once the worker was cancelled: the stop answers instead.
        answer(sender, 100 + result);
        return result;
    }
};

TEST(ServiceWithSockets, StopEndsWorkersBlockedOnSocketsAndAnswersZero) {
    ASSERT_NE(ThreadLib::init(), 0u);
    ASSERT_EQ(NetStartup(), 1u);
    {
        TcpSocket listener;
        ASSERT_EQ(listener.Bind(0, "127.0.0.1"), 1u);
        ASSERT_EQ(listener.Listen(), 1u);
        const uintptr_t port = listener.LocalPort();

        SocketService service;
        ASSERT_EQ(service.start(), 1u);
        constexpr int kRequests = 6;
        std::atomic<uint32_t> results[kRequests];
        Semaphore returned(0, kRequests);
        for (int i = 0; i < kRequests; ++i) {
            results[i] = 99;
            const std::uintptr_t code = (i % 3 == 2) ? kAccept : kReceive;
            const uint32_t id = ThreadLib::createThread([&service, &returned, &results, i, code, port] {
                results[i] = service.post(2, code, port);
                returned.release();
                return 0u;
            });
            ASSERT_EQ(ThreadLib::resume(id), 1u);
        }
        // Every worker is inside Recv or Accept (the backlog takes the
        // connections, nobody sends).
        ASSERT_TRUE(test::eventually([&] { return service.waiting == kRequests; }));

        EXPECT_EQ(service.stop(), 1u);
        EXPECT_EQ(service.ended.load(), static_cast<uint32_t>(kRequests));
        for (int i = 0; i < kRequests; ++i) ASSERT_EQ(returned.waitTimed(10000), 1u);
        for (const auto& result : results) EXPECT_EQ(result.load(), 0u);

        // The service starts again and serves normally.
        ASSERT_EQ(service.start(), 1u);
        EXPECT_EQ(service.stop(), 1u);
    }
    NetCleanup();
    ThreadLib::shutdown();
}

} // namespace
} // namespace vp
