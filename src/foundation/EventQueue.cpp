#include "foundation/EventQueue.h"

#include <memory>
#include <new>
#include <utility>

namespace vp {

struct EventQueue::Item {
    QueuedEvent event;
    Item* next = nullptr;
};

EventQueue::~EventQueue() {
    while (m_head) {
        Item* next = m_head->next;
        delete m_head;
        m_head = next;
    }
}

uint32_t EventQueue::push(const QueuedEvent& event) {
    // The copy is made outside the lock; only the link needs it.
    std::unique_ptr<Item> item(new (std::nothrow) Item);
    if (!item || item->event.fields.assign(event.fields) == 0) return 0;
    item->event.code = event.code;
    item->event.param = event.param;
    SemaphoreLock lock(m_lock);
    if (!lock.acquired()) return 0;
    Item* fresh = item.release();
    if (m_tail) m_tail->next = fresh;
    else m_head = fresh;
    m_tail = fresh;
    return 1;
}

uint32_t EventQueue::pop(QueuedEvent& event) {
    std::unique_ptr<Item> item;
    {
        SemaphoreLock lock(m_lock);
        if (!lock.acquired() || !m_head) return 0;
        item.reset(m_head);
        m_head = m_head->next;
        if (!m_head) m_tail = nullptr;
    }
    event = std::move(item->event);
    return 1;
}

bool EventQueue::isEmpty() const {
    SemaphoreLock lock(m_lock);
    return m_head == nullptr;
}

} // namespace vp
