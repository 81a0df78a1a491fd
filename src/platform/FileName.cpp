#include "platform/FileName.h"

#include <cstring>
#include <string>

namespace vp::platform {

bool isUnsafeNameCharacter(unsigned char c) {
    return c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

bool isDeviceName(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

bool isPlainName(std::string_view name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (isUnsafeNameCharacter(c)) return false;
    }
    // Windows drops trailing dots and spaces, so ".", "..", "a." and "a " all
    // name something other than what they say. ".." is refused anywhere: no
    // name needs it, and every climb out of a folder is made of it.
    if (name.back() == '.' || name.back() == ' ' || name.front() == ' ') return false;
    if (name.find("..") != std::string_view::npos) return false;
    return !isDeviceName(name);
}

} // namespace vp::platform
