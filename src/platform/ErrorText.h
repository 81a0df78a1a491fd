#pragma once
// The operating system's own words for an error number, as one vocabulary:
// on Windows any system error code; on POSIX an errno value, or 10000 + errno
// as the socket layer reports them (Socket.h).

#include <cstdint>
#include <string>

namespace vp::platform {

// The text for code, without a trailing line break. false (text empty) when
// the system has no text for it.
bool systemErrorText(uint32_t code, std::string& text);

} // namespace vp::platform
