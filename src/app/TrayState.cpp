#include "app/TrayState.h"

#include <cstdio>

namespace vp {

namespace {

TextString cut(const TextString& tip) {
    if (tip.length() <= kTrayTipLength) return tip;
    return TextString(tip.c_str(), kTrayTipLength);
}

} // namespace

TrayLook mainTrayLook(const TextString& displayName, bool away, bool connected, const TextString& userName,
                      const TextString& serverName) {
    TrayLook look;
    const TextString account = userName + "@" + serverName;
    if (connected) {
        look.icon = away ? kIconAwayConnected : kIconConnected;
        look.tip = displayName + (away ? " - Away and Connected as " : " - Connected as ") + account;
    } else {
        look.icon = kIconDisconnected;
        look.tip = displayName + (away ? " - Away and Disconnected" : " - Disconnected");
    }
    look.tip = cut(look.tip);
    return look;
}

TextString newNotesTip(const TextString& displayName, uint32_t count) {
    char text[64];
    std::snprintf(text, sizeof text, count < 2 ? " - you have %lu new note." : " - you have %lu new notes.",
                  static_cast<unsigned long>(count));
    return cut(displayName + text);
}

} // namespace vp
