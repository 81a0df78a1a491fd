#include "settings/NoteOptions.h"

namespace vp {

namespace {

constexpr platform::RegistryHive kUser = platform::RegistryHive::CurrentUser;
constexpr platform::RegistryHive kMachine = platform::RegistryHive::LocalMachine;

using N = NoteOptions;

// In the order load and save handle them.
constexpr SettingDefinition kValues[] = {
    integerSetting(N::kIncludeMsgInReply, "IncludeMsgInReply", kUser, 1),
    integerSetting(N::kDeleteOnReply, "DeleteOnReply", kUser, 0),
    integerSetting(N::kDeleteAfterSent, "DeleteAfterSent", kUser, 0),
    integerSetting(N::kPromptOnSent, "PromptOnSent", kUser, 0),
    integerSetting(N::kPromptOnDeletion, "PromptOnDeletion", kUser, 0),
    integerSetting(N::kPromptOnArrival, "PromptOnArrival", kUser, 0),
    integerSetting(N::kShowOnArrival, "ShowOnArrival", kUser, 1),
    integerSetting(N::kAuthorizedNoteOnly, "AuthorizedNoteOnly", kUser, 0),
    integerSetting(N::kNewNotesAvailable, "NewNotesAvailable", kUser, 0),
    stringSetting(N::kUnauthorizedList, "UnauthorizedList", kUser, 10240, nullptr),
};
static_assert(std::size(kValues) <= SettingsGroup::kMaxValues);

// The machine key holds no note value; opening it makes sure it exists.
constexpr platform::RegistryHive kKeys[] = {kMachine, kUser};

} // namespace

NoteOptions::NoteOptions(platform::Registry& registry) : SettingsGroup({"NoteOptions", kValues, kKeys}, registry) {}

} // namespace vp
