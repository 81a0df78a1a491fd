#include "platform/ErrorText.h"

#include <windows.h>

#include <string>

namespace vp::platform {

bool systemErrorText(uint32_t code, std::string& text) {
    text.clear();
    char* message = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                        code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<char*>(&message), 0, nullptr);
    if (length == 0 || !message) return false;
    try {
        text.assign(message, length);
    } catch (...) {
        text.clear();
    }
    LocalFree(message);
    // The system's texts end with a line break, which a box or a log line
    // adds itself.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return !text.empty();
}

} // namespace vp::platform
