#pragma once
// Change notification: a Subject calls update on every attached Observer, in
// attach order, when notify follows a setChanged. This is how a service tells
// windows (through their UI ports) that something changed.

#include "foundation/Semaphore.h"

#include <cstdint>
#include <vector>

namespace vp {

class Subject;

class Observer {
public:
    virtual ~Observer() = default;
    // Called by subject's notify, with the subject's mutex held: it must not
    // attach to, detach from or notify that same subject.
    virtual uint32_t update(Subject& subject, std::uintptr_t argument) = 0;
};

// A subject is itself an observer, so that one object can relay another's
// changes; its own update does nothing.
class Subject : public Observer {
public:
    Subject() = default;
    Subject(const Subject&) = delete;
    Subject& operator=(const Subject&) = delete;

    // Appends observer (it may be attached more than once): 1, or 0 for a null
    // observer or when memory ran out.
    uint32_t attach(Observer* observer);
    // Removes the first entry for observer: 1 when there was one.
    uint32_t detach(Observer* observer);
    void detachAll();
    // Marks the subject changed: the previous value of the flag (0 or 1).
    uint32_t setChanged();
    // When changed, calls update(*this, argument) on every observer in attach
    // order and clears the flag; otherwise calls nobody. 1.
    uint32_t notify(std::uintptr_t argument);

    uint32_t update(Subject& subject, std::uintptr_t argument) override;

private:
    // Held for the whole of every operation, observer calls included.
    Semaphore m_mutex{1, 1};
    std::vector<Observer*> m_observers;
    uint32_t m_changed = 0;
};

} // namespace vp
