#pragma once
// Boxes as Windows message boxes. Install it with setMessageService once the
// user interface runs.

#include "app/MessageService.h"

namespace vp {

class Win32MessageService final : public MessageService {
public:
    // A box of the focused window (kFocusedOwner) is owned by the window of
    // the calling thread that has the keyboard focus, or by nobody. The
    // foreground and active windows are put back afterwards, so a box from a
    // worker thread does not leave another window in front.
    uint32_t showBox(const char* title, const char* text, std::uintptr_t owner, uint32_t flags) override;
};

} // namespace vp
