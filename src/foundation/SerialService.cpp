#include "foundation/SerialService.h"

namespace vp {

SerialService::~SerialService() {
    if (m_started) stop();
}

uint32_t SerialService::start() {
    if (m_started) return 0;
    m_started = launch(&SerialService::threadEntry, reinterpret_cast<std::uintptr_t>(this));
    return m_started;
}

uint32_t SerialService::stop() {
    if (!m_started) return 1;
    return halt();
}

uint32_t SerialService::handleRequest(uint32_t, uint32_t, const std::uintptr_t*) { return 0; }

uint32_t SerialService::onStart() { return 1; }

uint32_t SerialService::onStop() { return 1; }

uint32_t SerialService::threadEntry(std::uintptr_t service) {
    return reinterpret_cast<SerialService*>(service)->serviceLoop();
}

uint32_t SerialService::serviceLoop() {
    const uint32_t self = ThreadLib::currentId();
    ThreadMessage message;
    for (;;) {
        const uint32_t sender = ThreadLib::receive(message);
        if (sender == 0) {
            if (ThreadLib::isCancelled()) return 0;
            continue;
        }
        const auto argumentCount = static_cast<uint32_t>(message.word2);
        const auto* arguments = reinterpret_cast<const std::uintptr_t*>(message.word3);
        if (argumentCount == 0 || !arguments) {
            answerFrom(sender, self, 0);
            continue;
        }
        if (arguments[0] == kStartCode) {
            m_stopping.store(0);
            const uint32_t result = onStart();
            answerFrom(sender, self, result);
            if (result == 0) return 0;
        } else if (arguments[0] == kStopCode) {
            m_stopping.store(1);
            const uint32_t result = onStop();
            refuseQueued();
            answerFrom(sender, self, result);
            return 1;
        } else {
            // The requester stays blocked, and the arguments on its stack
            // valid, until this answer.
            answerFrom(sender, self, handleRequest(sender, argumentCount, arguments));
        }
    }
}

} // namespace vp
