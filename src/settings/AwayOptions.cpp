#include "settings/AwayOptions.h"

namespace vp {

namespace {

constexpr platform::RegistryHive kUser = platform::RegistryHive::CurrentUser;

using A = AwayOptions;

// In the order load and save handle them.
constexpr SettingDefinition kValues[] = {
    stringSetting(A::kAutoReplyMsg, "AutoReplyMsg", kUser, 1024,
                  "I'm not here right now,\r\nbut I've got your message."),
    integerSetting(A::kAutoReplyAllowAttachments, "AutoReplyAllowAttachments", kUser, 1),
    integerSetting(A::kAutoReplyWithCustomMsg, "AutoReplyWithCustomMsg", kUser, 0),
    integerSetting(A::kAutoReplyWithInclude, "AutoReplyWithInclude", kUser, 1),
    integerSetting(A::kAutoReplyAndDelete, "AutoReplyAndDelete", kUser, 0),
    integerSetting(A::kAwayMode, nullptr, kUser, 0),
};
static_assert(std::size(kValues) <= SettingsGroup::kMaxValues);

constexpr platform::RegistryHive kKeys[] = {kUser};

} // namespace

AwayOptions::AwayOptions(platform::Registry& registry) : SettingsGroup({"AwayOptions", kValues, kKeys}, registry) {}

} // namespace vp
