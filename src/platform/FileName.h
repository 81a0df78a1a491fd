#pragma once
// The rules a single file or folder name must follow to mean what it says on
// Windows, where the client's files live. Names that arrive from outside (a
// received attachment's name, the login name that becomes the user's folder)
// are checked or made safe with them before they become part of a path.

#include <string_view>

namespace vp::platform {

// A character no name may hold: control characters and <>:"/\|?*.
bool isUnsafeNameCharacter(unsigned char c);
// A name that Windows opens as a device whatever the folder and extension:
// CON, PRN, AUX, NUL, COM1-9, LPT1-9 ("nul.txt" and "COM1 .log" too).
bool isDeviceName(std::string_view name);
// Whether name is one plain name: not empty, no unsafe character (a NUL
// inside included), no leading space, no trailing dot or space, no
// device name. Such a name joined to a folder stays inside that folder and
// names exactly one file there.
bool isPlainName(std::string_view name);

} // namespace vp::platform
