#pragma once
// The local clock and time zone, as the time texts need them.

#include <cstdint>
#include <string>

namespace vp::platform {

struct LocalDateTime {
    int year = 0;
    int month = 1;      // 1-12
    int dayOfWeek = 0;  // 0 = Sunday
    int day = 1;
    int hour = 0;       // 0-23
    int minute = 0;
    int second = 0;
};

// Which of the zone's two offsets is in force.
enum class ZoneState : uint32_t { Neither = 0, Standard = 1, Daylight = 2 };

struct TimeZone {
    int32_t bias = 0;          // minutes, UTC minus local time
    int32_t standardBias = 0;  // added to bias while standard time is in force
    int32_t daylightBias = 0;  // added to bias while daylight time is in force
    std::string standardName;
    std::string daylightName;
    ZoneState state = ZoneState::Neither;
};

// Where the time texts read the clock. The default is the platform's; tests
// hand in fixed values.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual LocalDateTime localTime() const = 0;
    virtual TimeZone timeZone() const = 0;
};

// The platform's clock and zone, read at each call.
const TimeSource& systemTimeSource();

} // namespace vp::platform
