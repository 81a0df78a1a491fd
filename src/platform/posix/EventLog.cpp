#include "platform/EventLog.h"

#include <syslog.h>

namespace vp::platform {

void reportErrorEvent(const char* source, const char* text) {
    // openlog keeps the name only until closelog, so each entry opens and
    // closes the log itself. Two threads reporting at the same moment may see
    // one entry under the program's default name; the entry is still written.
    openlog(source ? source : "", LOG_PID, LOG_USER);
    syslog(LOG_ERR, "%s", text ? text : "");
    closelog();
}

} // namespace vp::platform
