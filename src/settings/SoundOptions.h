#pragma once
// The sounds played on connection, contact and note events, each with its
// on/off flag: sound id n (0-6) and flag id n + 7 belong to the same event.
// All per machine.

#include "settings/SettingsGroup.h"

namespace vp {

class SoundOptions final : public SettingsGroup {
public:
    static constexpr uint32_t kConnectedSound = 0;
    static constexpr uint32_t kDisconnectedSound = 1;
    static constexpr uint32_t kContactConnectedSound = 2;
    static constexpr uint32_t kContactDisconnectedSound = 3;
    static constexpr uint32_t kNoteArrivedSound = 4;
    static constexpr uint32_t kNoteSentSound = 5;
    static constexpr uint32_t kSystemMessageArrivedSound = 6;
    static constexpr uint32_t kPlayOnConnected = 7;
    static constexpr uint32_t kPlayOnDisconnected = 8;
    static constexpr uint32_t kPlayOnContactConnected = 9;
    static constexpr uint32_t kPlayOnContactDisconnected = 10;
    static constexpr uint32_t kPlayOnNoteArrived = 11;
    static constexpr uint32_t kPlayOnNoteSent = 12;
    static constexpr uint32_t kPlayOnSystemMessageArrived = 13;
    // From a sound's id to its flag's id.
    static constexpr uint32_t kFlagOffset = 7;

    explicit SoundOptions(platform::Registry& registry = platform::systemRegistry());
};

} // namespace vp
