#include "settings/GeneralOptions.h"

#include "settings/Endpoints.h"

namespace vp {

namespace {

constexpr platform::RegistryHive kUser = platform::RegistryHive::CurrentUser;
constexpr platform::RegistryHive kMachine = platform::RegistryHive::LocalMachine;

using G = GeneralOptions;

// In the order load and save handle them.
constexpr SettingDefinition kValues[] = {
    stringSetting(G::kFindOthersURL, "FindOthersURL", kMachine, 1024, endpoints::kPeopleSearchPage),
    stringSetting(G::kSearchURL, "SearchURL", kMachine, 1024, endpoints::kPeopleSearchPage),
    stringSetting(G::kSignupURL, "SignupURL", kMachine, 1024, endpoints::kServiceHomePage),
    stringSetting(G::kHomeURL, "HomeURL", kMachine, 1024, endpoints::kMakerHomePage),
    stringSetting(G::kServerListURL, "ServerListURL", kMachine, 1024, endpoints::kServerListUrl),
    integerSetting(G::kInstalledVersion, "InstalledVersion", kMachine, 0),
    integerSetting(G::kPreviousVersion, "PreviousVersion", kMachine, 0),
    integerSetting(G::kProxyConnect, "ProxyConnect", kMachine, 0),
    stringSetting(G::kUserName, "UserName", kUser, 1024, nullptr),
    stringSetting(G::kServerName, "ServerName", kUser, 1024, endpoints::kDefaultServerHost),
    stringSetting(G::kUserPassword, "UserPassword", kUser, 1024, nullptr),
    stringSetting(G::kReceiveFolder, "ReceiveFolder", kUser, 1024, nullptr),
    stringSetting(G::kRecentFolder, "RecentFolder", kUser, 1024, nullptr),
    integerSetting(G::kAutoConnect, "AutoConnect", kUser, 0),
    integerSetting(G::kShowLogoBoxAtStartUp, "ShowLogoBoxAtStartUp", kUser, 1),
    integerSetting(G::kShowConnectBoxAtStartUp, "ShowConnectBoxAtStartUp", kUser, 1),
    integerSetting(G::kSavePassword, "SavePassword", kUser, 1),
    integerSetting(G::kAddUserNameToContactListOnConnect, "AddUserNameToContactListOnConnect", kUser, 0),
    integerSetting(G::kPromptOnExit, "PromptOnExit", kUser, 1),
    integerSetting(G::kAlwaysOnTop, "AlwaysOnTop", kUser, 0),
    integerSetting(G::kPromptOnAutoSleep, "PromptOnAutoSleep", kUser, 1),
    integerSetting(G::kPromptOnAutoWakeup, "PromptOnAutoWakeup", kUser, 1),
    integerSetting(G::kEnablePrivacy, "EnablePrivacy", kUser, 0),
};
static_assert(std::size(kValues) <= SettingsGroup::kMaxValues);

constexpr platform::RegistryHive kKeys[] = {kMachine, kUser};

} // namespace

GeneralOptions::GeneralOptions(platform::Registry& registry)
    : SettingsGroup({"GeneralOptions", kValues, kKeys}, registry) {}

} // namespace vp
