#include "platform/Clock.h"

#include <mutex>
#include <time.h>

namespace vp::platform {

namespace {

// tzset() rewrites tzname, timezone and daylight; every read of them, and the
// conversions that depend on them, happen under this lock.
std::mutex g_zoneMutex;

constexpr time_t kSecondsPerDay = 24 * 60 * 60;
constexpr int kDaysScannedForDaylight = 366;

// The offset east of UTC (seconds) of the first daylight moment in the coming
// year, looked at a day apart. False when there is none: the zone's rules no
// longer have daylight saving. Caller holds the lock.
bool upcomingDaylightOffset(time_t now, long& gmtOffset) {
    for (int day = 1; day <= kDaysScannedForDaylight; ++day) {
        const time_t later = now + day * kSecondsPerDay;
        tm moment{};
        if (localtime_r(&later, &moment) && moment.tm_isdst > 0) {
            gmtOffset = moment.tm_gmtoff;
            return true;
        }
    }
    return false;
}

// The zone names need memory; without it they stay empty rather than throw.
void copyName(std::string& target, const char* name) {
    try {
        target = name ? name : "";
    } catch (...) {
        target.clear();
    }
}

class PosixTimeSource final : public TimeSource {
public:
    LocalDateTime localTime() const override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        tm local{};
        {
            // localtime_r need not notice a changed TZ by itself; tzset does.
            std::lock_guard<std::mutex> lock(g_zoneMutex);
            tzset();
            if (!localtime_r(&now.tv_sec, &local)) return LocalDateTime{};
        }
        LocalDateTime result;
        result.year = local.tm_year + 1900;
        result.month = local.tm_mon + 1;
        result.dayOfWeek = local.tm_wday;
        result.day = local.tm_mday;
        result.hour = local.tm_hour;
        result.minute = local.tm_min;
        result.second = local.tm_sec;
        return result;
    }

    TimeZone timeZone() const override {
        TimeZone zone;
        std::lock_guard<std::mutex> lock(g_zoneMutex);
        tzset();
        // timezone is seconds west of UTC for standard time: the same sign as
        // the bias (UTC minus local time).
        zone.bias = static_cast<int32_t>(timezone / 60);
        zone.standardBias = 0;
        copyName(zone.standardName, tzname[0]);
        copyName(zone.daylightName, tzname[1]);
        // daylight tells whether the zone ever had daylight saving, which for a
        // zone file includes its history (India had it in the 1940s); only a
        // zone with daylight time now or within the coming year counts.
        if (daylight == 0) {
            zone.state = ZoneState::Neither;
            return zone;
        }
        const time_t now = time(nullptr);
        tm local{};
        if (!localtime_r(&now, &local)) return zone;
        long daylightOffset = 0;
        if (local.tm_isdst > 0) {
            daylightOffset = local.tm_gmtoff;
            zone.state = ZoneState::Daylight;
        } else if (upcomingDaylightOffset(now, daylightOffset)) {
            zone.state = ZoneState::Standard;
        } else {
            zone.state = ZoneState::Neither;
            return zone;
        }
        // As a bias added to the standard one: UTC minus local daylight time,
        // less the standard bias. Taken from the zone's own rules, so that
        // half-hour steps come out right.
        zone.daylightBias = static_cast<int32_t>(-(daylightOffset / 60) - zone.bias);
        return zone;
    }
};

} // namespace

const TimeSource& systemTimeSource() {
    static const PosixTimeSource source;
    return source;
}

} // namespace vp::platform
