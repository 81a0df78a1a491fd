#include "platform/Clock.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
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

// How many minutes the source's local time is ahead of UTC, taken from one
// reading that falls within a single second of the UTC clock.
bool clockAheadOfUtc(const TimeSource& source, int& minutesAhead) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const LocalDateTime local = source.localTime();
        const std::time_t after = std::time(nullptr);
        if (before != after) continue;
        const std::tm utc = *std::gmtime(&before);
        if (local.second != utc.tm_sec) return false;
        const auto localDate = std::make_tuple(local.year, local.month, local.day);
        const auto utcDate = std::make_tuple(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
        int dayShift = 0;
        if (localDate > utcDate) dayShift = 1440;
        if (localDate < utcDate) dayShift = -1440;
        minutesAhead = dayShift + (local.hour * 60 + local.minute) - (utc.tm_hour * 60 + utc.tm_min);
        return true;
    }
    return false;
}

// The zone's offset in force must be the one the local clock shows. The zone
// is read on both sides so that a change of offset in between is retried.
void expectZoneMatchesClock(const TimeSource& source) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        const TimeZone zone = source.timeZone();
        int minutesAhead = 0;
        ASSERT_TRUE(clockAheadOfUtc(source, minutesAhead));
        const TimeZone zoneAfter = source.timeZone();
        if (zone.state != zoneAfter.state) continue;
        EXPECT_EQ(minutesAhead, -effectiveBias(zone));
        return;
    }
    ADD_FAILURE() << "the zone kept changing";
}

TEST(Clock, SystemLocalTimeIsPlausible) {
    const LocalDateTime now = systemTimeSource().localTime();
    EXPECT_TRUE(now.year >= 2000 && now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.dayOfWeek >= 0 && now.dayOfWeek <= 6);
    EXPECT_TRUE(now.hour >= 0 && now.hour <= 23 && now.minute >= 0 && now.minute <= 59);
    EXPECT_TRUE(now.second >= 0 && now.second <= 60);
}

TEST(Clock, SystemZoneIsPlausibleAndMatchesTheClock) {
    const TimeZone zone = systemTimeSource().timeZone();
    EXPECT_GE(zone.bias, -16 * 60);
    EXPECT_LE(zone.bias, 16 * 60);
    EXPECT_GE(effectiveBias(zone), -16 * 60);
    EXPECT_LE(effectiveBias(zone), 16 * 60);
    EXPECT_TRUE(zone.state == ZoneState::Neither || zone.state == ZoneState::Standard ||
                zone.state == ZoneState::Daylight);
    expectZoneMatchesClock(systemTimeSource());
}

#ifndef _WIN32

// Sets TZ for one test and puts the old value back, also when the test fails.
class ScopedTz {
public:
    explicit ScopedTz(const char* value) {
        if (const char* old = std::getenv("TZ")) {
            m_hadOld = true;
            m_old = old;
        }
        setenv("TZ", value, 1);
        tzset();
    }
    ~ScopedTz() {
        if (m_hadOld) setenv("TZ", m_old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

private:
    bool m_hadOld = false;
    std::string m_old;
};

TEST(Clock, ZonesWithoutDaylightSaving) {
    {
        const ScopedTz tz("UTC0");
        const TimeZone zone = systemTimeSource().timeZone();
        EXPECT_EQ(zone.bias, 0);
        EXPECT_EQ(zone.standardBias, 0);
        EXPECT_EQ(zone.state, ZoneState::Neither);
        EXPECT_EQ(zone.standardName, "UTC");
        expectZoneMatchesClock(systemTimeSource());
    }
    {
        const ScopedTz tz("IST-5:30");
        const TimeZone zone = systemTimeSource().timeZone();
        EXPECT_EQ(zone.bias, -330);
        EXPECT_EQ(zone.state, ZoneState::Neither);
        EXPECT_EQ(zone.standardName, "IST");
        // The local time follows the changed TZ, not the one first seen.
        expectZoneMatchesClock(systemTimeSource());
    }
    if (std::filesystem::exists("/usr/share/zoneinfo/Asia/Kolkata")) {
        // The zone file holds daylight saving from the 1940s, which sets
        // daylight; with none now or ahead the zone has no daylight saving.
        const ScopedTz tz("Asia/Kolkata");
        const TimeZone zone = systemTimeSource().timeZone();
        EXPECT_EQ(zone.bias, -330);
        EXPECT_EQ(zone.state, ZoneState::Neither);
        EXPECT_EQ(zone.standardName, "IST");
        expectZoneMatchesClock(systemTimeSource());
    }
}

TEST(Clock, ZonesWithDaylightSaving) {
    {
        const ScopedTz tz("EST5EDT,M3.2.0,M11.1.0");
        const TimeZone zone = systemTimeSource().timeZone();
        EXPECT_EQ(zone.bias, 300);
        EXPECT_EQ(zone.standardBias, 0);
        EXPECT_EQ(zone.daylightBias, -60);
        EXPECT_EQ(zone.standardName, "EST");
        EXPECT_EQ(zone.daylightName, "EDT");
        const std::time_t now = std::time(nullptr);
        const bool daylightNow = std::localtime(&now)->tm_isdst > 0;
        EXPECT_EQ(zone.state, daylightNow ? ZoneState::Daylight : ZoneState::Standard);
        expectZoneMatchesClock(systemTimeSource());
    }
    {
        // A half-hour daylight step, in force southern summer.
        const ScopedTz tz("LHST-10:30LHDT-11,M10.1.0,M4.1.0");
        const TimeZone zone = systemTimeSource().timeZone();
        EXPECT_EQ(zone.bias, -630);
        EXPECT_EQ(zone.daylightBias, -30);
        EXPECT_NE(zone.state, ZoneState::Neither);
        expectZoneMatchesClock(systemTimeSource());
    }
}

#endif

} // namespace
} // namespace vp::platform
