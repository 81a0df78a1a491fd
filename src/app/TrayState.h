#pragma once
// What the tray icons show: the main icon's picture and tip for the
// connection and away state, and the new-notes icon's tip. The tray holds
// tips of at most 63 characters; longer ones are cut.

#include "foundation/TextString.h"

#include <cstdint>

namespace vp {

inline constexpr uint32_t kTrayTipLength = 63;

// The icons' resources.
inline constexpr uint32_t kIconProgram = 105;
inline constexpr uint32_t kIconConnected = 110;
inline constexpr uint32_t kIconDisconnected = 129;
inline constexpr uint32_t kIconNewNotes = 209;
inline constexpr uint32_t kIconAwayConnected = 215;

struct TrayLook {
    uint32_t icon = kIconDisconnected;
    TextString tip;
};

// The main icon: user and server make the account text "user@server".
TrayLook mainTrayLook(const TextString& displayName, bool away, bool connected, const TextString& userName,
                      const TextString& serverName);
// The new-notes icon's tip for count notes ("note" below 2, else "notes").
TextString newNotesTip(const TextString& displayName, uint32_t count);

} // namespace vp
