#pragma once
// A first-in first-out queue of events passed between threads.

#include "foundation/FieldTuple.h"
#include "foundation/Semaphore.h"

#include <cstdint>

namespace vp {

// One event: a code, a number and any byte fields. Copies are deep.
struct QueuedEvent {
    uint32_t code = 0;
    uint32_t param = 0;
    FieldTuple fields;
};

class EventQueue {
public:
    EventQueue() = default;
    ~EventQueue();

    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Appends a deep copy of event: 1, or 0 when memory ran out.
    uint32_t push(const QueuedEvent& event);
    // Moves the oldest event into event: 1, or 0 (event untouched) when empty.
    uint32_t pop(QueuedEvent& event);
    bool isEmpty() const;

private:
    struct Item;

    mutable Semaphore m_lock{1, 1};
    Item* m_head = nullptr;
    Item* m_tail = nullptr;
};

} // namespace vp
