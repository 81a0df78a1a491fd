#include "platform/Clock.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

namespace vp::platform {
namespace {

int32_t effectiveBias(const TimeZone& zone) {
    if (zone.state == ZoneState::Standard) return zone.bias + zone.standardBias;
    if (zone.state == ZoneState::Daylight) return zone.bias + zone.daylightBias;
    return zone.bias;
}

// The local time must be the UTC clock moved by the zone's offset in force,
// every field to the second. time() may read a coarser clock than the source
// does, so the reading may sit one second either side of it; a change of
// offset between the two readings of the zone is tried again.
void expectClockMatchesZone(const TimeSource& source) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const TimeZone zone = source.timeZone();
        const std::time_t before = std::time(nullptr);
        const LocalDateTime local = source.localTime();
        const std::time_t after = std::time(nullptr);
        if (source.timeZone().state != zone.state) continue;
        const auto read = std::make_tuple(local.year, local.month, local.day, local.dayOfWeek, local.hour,
                                          local.minute, local.second);
        std::string tried;
        for (std::time_t second = before - 1; second <= after + 1; ++second) {
            const std::time_t shifted = second - static_cast<std::time_t>(effectiveBias(zone)) * 60;
            const std::tm expected = *std::gmtime(&shifted);
            if (read == std::make_tuple(expected.tm_year + 1900, expected.tm_mon + 1, expected.tm_mday,
                                        expected.tm_wday, expected.tm_hour, expected.tm_min, expected.tm_sec))
                return;
            tried += " " + std::to_string(expected.tm_hour) + ":" + std::to_string(expected.tm_min) + ":" +
                     std::to_string(expected.tm_sec);
        }
        ADD_FAILURE() << "the source read " << local.year << "-" << local.month << "-" << local.day << " "
                      << local.hour << ":" << local.minute << ":" << local.second << " (day " << local.dayOfWeek
                      << "), the UTC clock in the zone gave" << tried;
        return;
    }
    ADD_FAILURE() << "the zone kept changing";
}

TEST(Clock, SystemClockIsTheUtcClockInTheSystemZone) {
    const TimeZone zone = systemTimeSource().timeZone();
    EXPECT_LE(std::abs(zone.bias), 16 * 60);
    EXPECT_LE(std::abs(effectiveBias(zone)), 16 * 60);
    EXPECT_TRUE(zone.state == ZoneState::Neither || zone.state == ZoneState::Standard ||
                zone.state == ZoneState::Daylight);
    expectClockMatchesZone(systemTimeSource());
}

#ifndef _WIN32

// Sets TZ for one case and puts the old value back, also when the case fails.
class ScopedTz {
public:
    explicit ScopedTz(const char* value) {
        if (const char* old = std::getenv("TZ")) m_old = old;
        set(value);
    }
    ~ScopedTz() { set(m_old ? m_old->c_str() : nullptr); }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    static void set(const char* value) {
        if (value) setenv("TZ", value, 1);
        else unsetenv("TZ");
        tzset();
    }
    std::optional<std::string> m_old;
};

// Each zone is read afresh: the local time follows a changed TZ, not the
// one first seen.
TEST(Clock, ZonesWithAndWithoutDaylightSaving) {
    const struct {
        const char* tz;
        int32_t bias;
        int32_t daylightBias;
        const char* standardName;
        const char* daylightName;  // nullptr: not checked
        bool daylightSaving;       // standard or daylight time as the C library says, else neither
    } cases[] = {
        {"UTC0", 0, 0, "UTC", nullptr, false},
        {"IST-5:30", -330, 0, "IST", nullptr, false},
        // The zone file holds daylight saving from the 1940s, which sets
        // daylight; with none now or ahead the zone has no daylight saving.
        {"Asia/Kolkata", -330, 0, "IST", nullptr, false},
        {"EST5EDT,M3.2.0,M11.1.0", 300, -60, "EST", "EDT", true},
        // A half-hour daylight step, in force southern summer.
        {"LHST-10:30LHDT-11,M10.1.0,M4.1.0", -630, -30, "LHST", "LHDT", true},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.tz);
        // A name with a slash is a file of the zone database, which this
        // system may lack.
        if (std::strchr(each.tz, '/') && !std::filesystem::exists(std::string("/usr/share/zoneinfo/") + each.tz)) {
            continue;
        }
        const ScopedTz tz(each.tz);
        const TimeZone zone = systemTimeSource().timeZone();
        EXPECT_EQ(zone.bias, each.bias);
        EXPECT_EQ(zone.standardBias, 0);
        EXPECT_EQ(zone.daylightBias, each.daylightBias);
        EXPECT_EQ(zone.standardName, each.standardName);
        if (each.daylightName) {
            EXPECT_EQ(zone.daylightName, each.daylightName);
        }
        const std::time_t now = std::time(nullptr);
        const bool daylightNow = std::localtime(&now)->tm_isdst > 0;
        EXPECT_EQ(zone.state, !each.daylightSaving ? ZoneState::Neither
                              : daylightNow        ? ZoneState::Daylight
                                                   : ZoneState::Standard);
        expectClockMatchesZone(systemTimeSource());
    }
}

#endif

} // namespace
} // namespace vp::platform
