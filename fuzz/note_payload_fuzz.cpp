// A note's payload as another client sends it.

#include "notes/NoteRecord.h"
#include "platform/Clock.h"

#include <cstddef>
#include <cstdint>

namespace {

// A fixed clock, so that a run does not depend on the day.
class FixedClock : public vp::platform::TimeSource {
public:
    vp::platform::LocalDateTime localTime() const override { return {}; }
    vp::platform::TimeZone timeZone() const override { return {}; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const FixedClock clock;
    if (size > 0xFFFFFFFFu) return 0;
    vp::NoteRecord note;
    note.ParsePayload(data, static_cast<uint32_t>(size), clock);
    return 0;
}
