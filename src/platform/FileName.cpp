#include "platform/FileName.h"

#include <cstring>

namespace vp::platform {

bool isUnsafeNameCharacter(unsigned char c) {
    return c < 0x20 || c == 0x7F || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

namespace {

// The stem's first three letters are word, in any case.
bool startsAs(std::string_view stem, const char* word) {
    for (size_t i = 0; i < 3; ++i) {
        const char c = stem[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != word[i]) return false;
    }
    return true;
}

} // namespace

// Looked at in place: the check runs where memory may have run out.
bool isDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
    if (stem.size() == 3) {
        return startsAs(stem, "CON") || startsAs(stem, "PRN") || startsAs(stem, "AUX") || startsAs(stem, "NUL");
    }
    return stem.size() == 4 && (startsAs(stem, "COM") || startsAs(stem, "LPT")) && stem[3] >= '1' && stem[3] <= '9';
}

bool isPlainName(std::string_view name) {
    if (name.empty()) return false;
    for (unsigned char c : name) {
        if (isUnsafeNameCharacter(c)) return false;
    }
    // Windows drops trailing dots and spaces, so ".", "..", "a." and "a " all
    // name something other than what they say. Two dots inside a name
    // ("a..b.txt") climb nowhere without a separator, and a received file may
    // be saved under such a name, so they stay allowed: its note must still be
    // able to remove it.
    if (name.back() == '.' || name.back() == ' ' || name.front() == ' ') return false;
    return !isDeviceName(name);
}

} // namespace vp::platform
