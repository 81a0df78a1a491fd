#pragma once
// How notes behave: prompts, replies, deletion, arrival, and the log of
// senders refused while privacy is on. All per user.

#include "settings/SettingsGroup.h"

namespace vp {

class NoteOptions final : public SettingsGroup {
public:
    static constexpr uint32_t kPromptOnSent = 0;
    static constexpr uint32_t kPromptOnArrival = 1;
    static constexpr uint32_t kPromptOnDeletion = 2;
    static constexpr uint32_t kIncludeMsgInReply = 3;
    static constexpr uint32_t kDeleteAfterSent = 4;
    static constexpr uint32_t kDeleteOnReply = 5;
    static constexpr uint32_t kShowOnArrival = 6;
    static constexpr uint32_t kAuthorizedNoteOnly = 7;
    static constexpr uint32_t kUnauthorizedList = 8;
    static constexpr uint32_t kNewNotesAvailable = 10;

    explicit NoteOptions(platform::Registry& registry = platform::systemRegistry());
};

} // namespace vp
