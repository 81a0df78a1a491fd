#include "services/ConnectionMonitor.h"

#include "support/Eventually.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <thread>
#include <utility>
#include <vector>

namespace vp {
namespace {

// The monitor's second in these tests: a silent peer is found out in 1.5 s.
constexpr uint32_t kTestSecond = 10;
constexpr uint8_t kAnnounced = 60;

TEST(ConnectionMonitorTiming, AnsweredChecksAdjustTheTiming) {
    // Timings as E, R, S and budget; before the check the budget is lowered already.
    struct Row { WatchTiming before; uint8_t announced; uint32_t pause; WatchTiming after; };
    const Row rows[] = {
        {{60, 30, 60, 4}, 60, 40, {30, 45, 58, 5}},   // first answer: S drifts down, not raised to b = S
        {{30, 45, 58, 4}, 10, 40, {24, 10, 56, 4}},   // E held at 24; b early: budget 4, R = b
        {{60, 30, 40, 0}, 90, 40, {120, 30, 90, 5}},  // E held at 120; S raised to b
        {{25, 30, 100, 2}, 20, 235, {38, 1, 114, 5}}, // E = ceiling(37.5); S drifts up by ceiling(13.5)
        {{27, 30, 45, 3}, 20, 40, {27, 7, 44, 5}},    // R = ceiling(6.5)
        {{48, 30, 60, 4}, 0, 60, {24, 0, 60, 4}},     // b = 0: check again at once
    };
    for (const Row& row : rows) {
        const WatchTiming after = adjustTiming(row.before, row.announced, row.pause);
        EXPECT_EQ(after, row.after) << "row " << (&row - rows) << ": E " << after.expected << " R "
                                    << after.receiveDelay << " S " << after.sendInterval << " " << after.missBudget;
    }
}

TEST(ConnectionMonitorTiming, KeepAlivePauseGrowsWithTheWatchesUpTo240) {
    const std::pair<uint32_t, uint32_t> rows[] = {{0, 40}, {1, 40}, {2, 50}, {25, 240}, {30, 240}};
    for (const auto& [watches, pause] : rows) EXPECT_EQ(keepAlivePause(watches), pause) << watches;
}

TEST(ConnectionMonitorTiming, DeltaListsKeepEntriesInDueOrder) {
    using Entries = std::vector<std::pair<char, uint32_t>>;
    const std::pair<Entries, Entries> rows[] = {
        {{{'a', 30}, {'b', 10}, {'c', 45}}, {{'b', 10}, {'a', 20}, {'c', 15}}},
        {{{'a', 30}, {'b', 30}}, {{'b', 30}, {'a', 0}}},  // due together: the newer first
        {{{'a', 0}, {'b', 60}, {'c', 70}, {'d', 65}}, {{'a', 0}, {'b', 60}, {'d', 5}, {'c', 5}}},
    };
    for (const auto& [inserted, expected] : rows) {
        DeltaList<char> list;
        for (const auto& [item, delay] : inserted) list.insert(item, delay);
        Entries entries;
        for (const auto& entry : list.entries()) entries.emplace_back(entry.item, entry.delay);
        EXPECT_EQ(entries, expected) << inserted.size() << " inserted";
    }
    DeltaList<char> list;
    for (const auto& [item, delay] : rows[0].first) list.insert(item, delay);
    list.remove('a');
    EXPECT_EQ(list.entries().back().delay, 35u);  // its delay goes on to the next
    list.insert('z', 0);
    list.tick();  // a second counts for the first entry not due yet
    EXPECT_EQ(std::next(list.entries().begin())->delay, 9u);
}

// The far end of a watched connection: answers every keep-alive byte with
// the interval it expects, reads and says nothing, or hangs up soon after
// the first (once the test has attached its observer).
struct Peer {
    enum Mode { Answers, Silent, HangsUp };
    explicit Peer(Mode mode) {
        listener.Bind(0, "127.0.0.1");
        listener.Listen();
        thread = std::thread([this, mode] {
            connection = listener.Accept();
            accepted = true;
            for (uint8_t byte = 0; connection.Recv(&byte, 1) == 1 && mode != HangsUp;) {
                if (seen++ == 0) first = byte;
                if (mode == Answers) connection.SendByte(kAnnounced);
            }
            if (mode == HangsUp) std::this_thread::sleep_for(std::chrono::milliseconds(5 * kTestSecond));
            connection.Close();
        });
    }
    ~Peer() {
        test::eventually([this] { return accepted.load(); });
        connection.Cancel();
        thread.join();
    }
    TcpSocket listener, connection{platform::kNoSocket};
    std::atomic<bool> accepted{false};
    std::atomic<uint32_t> seen{0}, first{0};
    std::thread thread;
};

struct Told : Observer {
    uint32_t update(Subject& subject, std::uintptr_t argument) override {
        socket = reinterpret_cast<TcpSocket*>(argument);
        EXPECT_EQ(socket.load()->IsValid(), 1u);  // told while the socket still exists
        serial = static_cast<ConnectionWatch&>(subject).serial();
        ++count;  // last: a test that sees the count sees the rest
        return 1;
    }
    std::atomic<uint32_t> count{0};
    std::atomic<TcpSocket*> socket{nullptr};
    std::atomic<uint64_t> serial{0};
};

class ConnectionMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(NetStartup(), 1u);
        ASSERT_NE(ThreadLib::init(), 0u);
        ASSERT_EQ(monitor.start(), 1u);
    }
    void TearDown() override {
        monitor.stop();
        ThreadLib::shutdown();
        NetCleanup();
    }
    // Watches socket (owned or not) with told attached.
    void watch(TcpSocket* socket, const Peer& peer, Told& told, std::uintptr_t code = ConnectionMonitor::kWatch) {
        ASSERT_EQ(socket->Connect("127.0.0.1", peer.listener.LocalPort()), 1u);
        ASSERT_EQ(monitor.post(2, code, socket), 1u);
        ASSERT_EQ(monitor.post(3, ConnectionMonitor::kAttach, &told, socket), 1u);
    }

    ConnectionMonitor monitor{kTestSecond};
};

TEST_F(ConnectionMonitorTest, AnsweredKeepAlivesKeepTheWatchUntilItIsLetGo) {
    Peer peer(Peer::Answers);
    TcpSocket client;
    Told told;
    watch(&client, peer, told);
    EXPECT_EQ(monitor.post(2, ConnectionMonitor::kWatch, &client), 0u);  // watched already
    ASSERT_TRUE(test::eventually([&] { return peer.seen >= 3; }));
    EXPECT_EQ(peer.first, 60u);
    EXPECT_EQ(told.count, 0u);
    EXPECT_EQ(monitor.post(2, ConnectionMonitor::kStopWatching, &client), 1u);
    EXPECT_EQ(told.count, 1u);
    EXPECT_EQ(told.socket, &client);
    EXPECT_EQ(monitor.post(2, ConnectionMonitor::kStopWatching, &client), 0u);
    // A thread's drop report that comes after the watch went finds nothing.
    EXPECT_EQ(monitor.post(2, ConnectionMonitor::kDropWatch, std::uintptr_t(told.serial)), 0u);
    EXPECT_EQ(told.count, 1u);
    EXPECT_EQ(client.IsConnected(), 1u);
}

TEST_F(ConnectionMonitorTest, PeersThatGoSilentOrHangUpAreDroppedOnce) {
    for (const Peer::Mode mode : {Peer::Silent, Peer::HangsUp}) {
        Peer peer(mode);
        TcpSocket client;
        Told told;
        watch(&client, peer, told);
        ASSERT_TRUE(test::eventually([&] { return told.count > 0; })) << mode;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 * kTestSecond));
        EXPECT_EQ(told.count, 1u) << mode;
        EXPECT_EQ(told.socket, &client) << mode;
    }
}

TEST_F(ConnectionMonitorTest, StopDropsTheWatchesLeftAndTellsTheirObservers) {
    Peer answering(Peer::Answers);
    Peer hangingUp(Peer::HangsUp);
    Peer owning(Peer::Answers);
    TcpSocket client, lost;
    Told told[3];
    watch(&client, answering, told[0]);
    auto* owned = new TcpSocket;
    watch(owned, owning, told[1], ConnectionMonitor::kWatchOwned);
    EXPECT_EQ(monitor.post(2, ConnectionMonitor::kStopWatching, owned), 0u);  // only its owner lets it go
    watch(&lost, hangingUp, told[2]);  // its drop may race the stop
    EXPECT_EQ(monitor.stop(), 1u);
    for (const Told& each : told) EXPECT_EQ(each.count, 1u);
    EXPECT_EQ(client.IsConnected(), 0u);  // closed, and a fresh socket in its place
    EXPECT_EQ(client.IsValid(), 1u);
    EXPECT_EQ(monitor.post(2, ConnectionMonitor::kWatch, &client), 0u);
}

} // namespace
} // namespace vp
