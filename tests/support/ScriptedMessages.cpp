#include "support/ScriptedMessages.h"

namespace vp::test {

void ScriptedMessages::script(std::initializer_list<uint32_t> results) {
    std::lock_guard guard(m_lock);
    m_script.insert(m_script.end(), results.begin(), results.end());
}

std::vector<ScriptedMessages::Box> ScriptedMessages::boxes() const {
    std::lock_guard guard(m_lock);
    return m_boxes;
}

size_t ScriptedMessages::boxCount() const {
    std::lock_guard guard(m_lock);
    return m_boxes.size();
}

uint32_t ScriptedMessages::showBox(const char* title, const char* text, std::uintptr_t owner, uint32_t flags) {
    std::lock_guard guard(m_lock);
    m_boxes.push_back({title ? title : "", text ? text : "", owner, flags});
    if (!m_script.empty()) {
        const uint32_t result = m_script.front();
        m_script.pop_front();
        return result;
    }
    return negativeAnswer(flags);
}

} // namespace vp::test
