#pragma once
// The general preferences: the operator's web pages, versions and the proxy
// switch (per machine); the account, folders and start-up, prompt and privacy
// switches (per user).

#include "settings/SettingsGroup.h"

namespace vp {

class GeneralOptions final : public SettingsGroup {
public:
    static constexpr uint32_t kFindOthersURL = 0;
    static constexpr uint32_t kSearchURL = 1;
    static constexpr uint32_t kSignupURL = 2;
    static constexpr uint32_t kHomeURL = 3;
    static constexpr uint32_t kInstalledVersion = 5;
    static constexpr uint32_t kPreviousVersion = 6;
    static constexpr uint32_t kProxyConnect = 7;
    static constexpr uint32_t kServerListURL = 8;
    static constexpr uint32_t kUserName = 9;
    static constexpr uint32_t kServerName = 10;
    static constexpr uint32_t kUserPassword = 11;
    static constexpr uint32_t kReceiveFolder = 12;
    static constexpr uint32_t kRecentFolder = 13;
    static constexpr uint32_t kShowLogoBoxAtStartUp = 14;
    static constexpr uint32_t kShowConnectBoxAtStartUp = 15;
    static constexpr uint32_t kAutoConnect = 16;
    static constexpr uint32_t kAddUserNameToContactListOnConnect = 17;
    static constexpr uint32_t kSavePassword = 18;
    static constexpr uint32_t kPromptOnExit = 19;
    static constexpr uint32_t kAlwaysOnTop = 20;
    static constexpr uint32_t kPromptOnAutoSleep = 21;
    static constexpr uint32_t kPromptOnAutoWakeup = 22;
    static constexpr uint32_t kEnablePrivacy = 23;

    explicit GeneralOptions(platform::Registry& registry = platform::systemRegistry());
};

} // namespace vp
