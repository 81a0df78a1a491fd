#include "foundation/SerialService.h"

namespace vp {

SerialService::~SerialService() {
    if (m_started) stop();
}

uint32_t SerialService::start() {
    if (m_started) return 0;
    m_started = launch();
    return m_started;
}

uint32_t SerialService::stop() {
    if (!m_started) return 1;
    return halt();
}

uint32_t SerialService::handleRequest(uint32_t, uint32_t, const std::uintptr_t*) { return 0; }

uint32_t SerialService::onStart() { return 1; }

uint32_t SerialService::onStop() { return 1; }

uint32_t SerialService::startRequested() { return onStart(); }

uint32_t SerialService::stopRequested() { return onStop(); }

void SerialService::requestArrived(uint32_t sender, uint32_t argumentCount, const std::uintptr_t* arguments) {
    // The requester stays blocked, and the arguments on its stack valid,
    // until this answer.
    answerFrom(sender, ThreadLib::currentId(), handleRequest(sender, argumentCount, arguments));
}

} // namespace vp
