#include "platform/ErrorText.h"

#include <climits>
#include <cstring>
#include <string>

namespace vp::platform {

namespace {

// The socket layer reports errno as 10000 + errno, so that its numbers line up
// with Winsock's; both forms name the same error here.
constexpr uint32_t kSocketErrorBase = 10000;

// strerror_r comes in two shapes: the XSI one fills the buffer and returns an
// int, the GNU one returns the text (which may not be the buffer). Overloads
// on the result type take whichever the C library declares.
[[maybe_unused]] const char* textOf(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* textOf(const char* result, const char*) { return result; }

// What the C libraries write for a number they do not know ("Unknown error
// 1234"; musl says "No error information").
bool isUnknown(const char* text) {
    return std::strncmp(text, "Unknown error", 13) == 0 || std::strcmp(text, "No error information") == 0;
}

} // namespace

bool systemErrorText(uint32_t code, std::string& text) {
    text.clear();
    if (code >= kSocketErrorBase && code < 2 * kSocketErrorBase) code -= kSocketErrorBase;
    if (code > static_cast<uint32_t>(INT_MAX)) return false;
    char buffer[256] = {};
    const char* found = textOf(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
    if (!found || *found == '\0' || isUnknown(found)) return false;
    try {
        text = found;
    } catch (...) {
        return false;
    }
    return true;
}

} // namespace vp::platform
