#include "foundation/EventQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vp {
namespace {

ByteBuffer bytes(const std::string& text) { return ByteBuffer(text.data(), static_cast<uint32_t>(text.size())); }

std::string text(const ByteBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

QueuedEvent event(uint32_t code, uint32_t param, const std::string& field) {
    QueuedEvent made{code, param, FieldTuple(1)};
    made.fields.setField(0, bytes(field));
    return made;
}

// The next event as "code param field", or "empty" when pop found none and
// left the event as it was.
std::string popped(EventQueue& queue) {
    QueuedEvent out = event(7, 8, "untouched");
    if (queue.pop(out) == 0) return out.code == 7 && text(out.fields.field(0)) == "untouched" ? "empty" : "touched";
    const std::string field = out.fields.count() ? text(out.fields.field(0)) : "-";
    return std::to_string(out.code) + " " + std::to_string(out.param) + " " + field;
}

TEST(EventQueue, PopsInArrivalOrderAndNothingWhenEmpty) {
    EventQueue queue;
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(popped(queue), "empty");
    QueuedEvent first = event(1, 10, "one");
    EXPECT_EQ(queue.push(first), 1u);
    EXPECT_EQ(queue.push(event(2, 20, "two")), 1u);
    EXPECT_EQ(queue.push(QueuedEvent{3, 30, FieldTuple()}), 1u);
    EXPECT_FALSE(queue.isEmpty());
    first.fields.setField(0, bytes("changed"));  // the queue holds its own copy
    EXPECT_EQ(popped(queue), "1 10 one");
    EXPECT_EQ(popped(queue), "2 20 two");
    EXPECT_EQ(popped(queue), "3 30 -");
    EXPECT_TRUE(queue.isEmpty());
    EXPECT_EQ(popped(queue), "empty");
    // Emptied and filled again; what is left is freed with the queue.
    EXPECT_EQ(queue.push(event(4, 40, "four")), 1u);
    EXPECT_EQ(queue.push(event(5, 50, "five")), 1u);
    EXPECT_EQ(popped(queue), "4 40 four");
}

TEST(EventQueue, ConcurrentProducersDeliverEachEventOnceInOrder) {
    constexpr uint32_t kProducers = 4;
    constexpr uint32_t kEvents = 3000;
    EventQueue queue;
    std::vector<std::thread> producers;
    for (uint32_t p = 0; p < kProducers; ++p) {
        producers.emplace_back([&queue, p] {
            for (uint32_t i = 0; i < kEvents; ++i) {
                ASSERT_EQ(queue.push(event(p, i, std::to_string(p) + ":" + std::to_string(i))), 1u);
            }
        });
    }
    // The consumer runs while the producers push.
    std::vector<uint32_t> nextOf(kProducers, 0);
    uint32_t received = 0;
    bool inOrder = true;
    while (received < kProducers * kEvents) {
        QueuedEvent out;
        if (queue.pop(out) == 0) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_LT(out.code, kProducers);
        inOrder = inOrder && out.param == nextOf[out.code] &&
                  text(out.fields.field(0)) == std::to_string(out.code) + ":" + std::to_string(out.param);
        nextOf[out.code] = out.param + 1;
        ++received;
    }
    for (std::thread& producer : producers) producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(nextOf, std::vector<uint32_t>(kProducers, kEvents));
    EXPECT_TRUE(queue.isEmpty());
}

} // namespace
} // namespace vp
