#pragma once
// The system event log, where faults that nobody else will see are recorded
// (a thread that crashed).

namespace vp::platform {

// Writes one error entry under the source name source with the single text
// text. Failures are ignored: there is nowhere left to report them.
void reportErrorEvent(const char* source, const char* text);

} // namespace vp::platform
