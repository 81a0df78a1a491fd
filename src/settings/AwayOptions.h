#pragma once
// Away mode and its automatic reply. All per user; whether the user is away
// (kAwayMode) is held in memory only and starts off at every run.

#include "settings/SettingsGroup.h"

namespace vp {

class AwayOptions final : public SettingsGroup {
public:
    static constexpr uint32_t kAutoReplyMsg = 0;
    static constexpr uint32_t kAutoReplyAllowAttachments = 2;
    static constexpr uint32_t kAutoReplyWithCustomMsg = 3;
    static constexpr uint32_t kAutoReplyWithInclude = 4;
    static constexpr uint32_t kAutoReplyAndDelete = 5;
    static constexpr uint32_t kAwayMode = 6;  // 1 while the user is away; never stored

    explicit AwayOptions(platform::Registry& registry = platform::systemRegistry());
};

} // namespace vp
