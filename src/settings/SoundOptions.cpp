#include "settings/SoundOptions.h"

namespace vp {

namespace {

constexpr platform::RegistryHive kMachine = platform::RegistryHive::LocalMachine;

using S = SoundOptions;

// In the order load and save handle them: the sound paths, then the flags.
constexpr SettingDefinition kValues[] = {
    stringSetting(S::kConnectedSound, "ConnectedSound", kMachine, 10240, nullptr),
    stringSetting(S::kDisconnectedSound, "DisconnectedSound", kMachine, 10240, nullptr),
    stringSetting(S::kContactConnectedSound, "ContactConnectedSound", kMachine, 10240, nullptr),
    stringSetting(S::kContactDisconnectedSound, "ContactDisconnectedSound", kMachine, 10240, nullptr),
    stringSetting(S::kNoteArrivedSound, "NoteArrivedSound", kMachine, 10240, nullptr),
    stringSetting(S::kNoteSentSound, "NoteSentSound", kMachine, 10240, nullptr),
    stringSetting(S::kSystemMessageArrivedSound, "SystemMessageArrivedSound", kMachine, 10240, nullptr),
    integerSetting(S::kPlayOnConnected, "PlayOnConnected", kMachine, 0),
    integerSetting(S::kPlayOnDisconnected, "PlayOnDisconnected", kMachine, 0),
    integerSetting(S::kPlayOnContactConnected, "PlayOnContactConnected", kMachine, 0),
    integerSetting(S::kPlayOnContactDisconnected, "PlayOnContactDisconnected", kMachine, 0),
    integerSetting(S::kPlayOnNoteArrived, "PlayOnNoteArrived", kMachine, 0),
    integerSetting(S::kPlayOnNoteSent, "PlayOnNoteSent", kMachine, 0),
    integerSetting(S::kPlayOnSystemMessageArrived, "PlayOnSystemMessageArrived", kMachine, 0),
};
static_assert(std::size(kValues) <= SettingsGroup::kMaxValues);

constexpr platform::RegistryHive kKeys[] = {kMachine};

} // namespace

SoundOptions::SoundOptions(platform::Registry& registry) : SettingsGroup({"SoundOptions", kValues, kKeys}, registry) {}

} // namespace vp
