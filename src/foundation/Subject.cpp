#include "foundation/Subject.h"

#include <algorithm>

namespace vp {

uint32_t Subject::attach(Observer* observer) {
    if (!observer) return 0;
    SemaphoreLock lock(m_mutex);
    try {
        m_observers.push_back(observer);
    } catch (...) {
        return 0;
    }
    return 1;
}

uint32_t Subject::detach(Observer* observer) {
    SemaphoreLock lock(m_mutex);
    const auto found = std::find(m_observers.begin(), m_observers.end(), observer);
    if (found == m_observers.end()) return 0;
    m_observers.erase(found);
    return 1;
}

void Subject::detachAll() {
    SemaphoreLock lock(m_mutex);
    m_observers.clear();
}

uint32_t Subject::setChanged() {
    SemaphoreLock lock(m_mutex);
    const uint32_t previous = m_changed;
    m_changed = 1;
    return previous;
}

uint32_t Subject::notify(std::uintptr_t argument) {
    SemaphoreLock lock(m_mutex);
    if (!m_changed) return 1;
    for (Observer* observer : m_observers) observer->update(*this, argument);
    m_changed = 0;
    return 1;
}

uint32_t Subject::update(Subject&, std::uintptr_t) { return 1; }

} // namespace vp
