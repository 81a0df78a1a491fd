#include "platform/EventLog.h"

#include <windows.h>

namespace vp::platform {

void reportErrorEvent(const char* source, const char* text) {
    HANDLE log = RegisterEventSourceA(nullptr, source ? source : "");
    if (!log) return;
    LPCSTR strings[1] = {text ? text : ""};
    ReportEventA(log, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

} // namespace vp::platform
