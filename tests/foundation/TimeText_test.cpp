#include "foundation/TimeText.h"

#include <climits>
#include <new>
#include <string>

#include <gtest/gtest.h>

namespace vp {
namespace {

using platform::LocalDateTime;
using platform::TimeZone;
using platform::ZoneState;

constexpr ZoneState kNeither = ZoneState::Neither;
constexpr ZoneState kStandard = ZoneState::Standard;
constexpr ZoneState kDaylight = ZoneState::Daylight;

// Fixed values, counting how often each is read.
class FixedTimeSource final : public platform::TimeSource {
public:
    LocalDateTime time;
    TimeZone zone;
    mutable int timeReads = 0;
    mutable int zoneReads = 0;

    LocalDateTime localTime() const override {
        ++timeReads;
        return time;
    }
    TimeZone timeZone() const override {
        ++zoneReads;
        return zone;
    }
};

// A zone whose names cannot be allocated.
class OutOfMemorySource final : public platform::TimeSource {
public:
    LocalDateTime localTime() const override { return {}; }
    TimeZone timeZone() const override { throw std::bad_alloc(); }
};

// As std::string, so that a failed comparison prints the text.
std::string text(const TextString& value) {
    EXPECT_TRUE(value.isValid());
    return value.c_str();
}

TEST(StatusTimeText, ClockDateAndOffset) {
    // Bias is UTC minus local in minutes: negative east of Greenwich, shown as "+".
    const struct {
        int hour, minute, month, day, year;
        int32_t bias, standardBias, daylightBias;
        ZoneState state;
        const char* text;
    } cases[] = {
        // Twelve-hour clock, midnight and noon as 12.
        {0, 0, 3, 7, 2005, -330, 0, 0, kNeither, "12:00 AM 3/7/5 +0530"},
        {9, 5, 3, 7, 2005, -330, 0, 0, kNeither, "09:05 AM 3/7/5 +0530"},
        {11, 59, 3, 7, 2005, -330, 0, 0, kNeither, "11:59 AM 3/7/5 +0530"},
        {12, 5, 3, 7, 2005, -330, 0, 0, kNeither, "12:05 PM 3/7/5 +0530"},
        {13, 0, 3, 7, 2005, -330, 0, 0, kNeither, "01:00 PM 3/7/5 +0530"},
        // The date without leading zeros, the year in two digits at most.
        {0, 30, 12, 31, 2010, -330, 0, 0, kNeither, "12:30 AM 12/31/10 +0530"},
        {0, 30, 1, 1, 2000, -330, 0, 0, kNeither, "12:30 AM 1/1/0 +0530"},
        // The offset's sign and digits; the sign turns at a bias of 1.
        {0, 30, 3, 7, 2005, 0, 0, 0, kNeither, "12:30 AM 3/7/5 +0000"},
        {0, 30, 3, 7, 2005, 570, 0, 0, kNeither, "12:30 AM 3/7/5 -0930"},
        {0, 30, 3, 7, 2005, -840, 0, 0, kNeither, "12:30 AM 3/7/5 +1400"},
        {0, 30, 3, 7, 2005, 1, 0, 0, kNeither, "12:30 AM 3/7/5 -0001"},
        {0, 30, 3, 7, 2005, -1, 0, 0, kNeither, "12:30 AM 3/7/5 +0001"},
        // Only the extra bias of the offset in force counts, and it can carry
        // the offset across UTC.
        {0, 30, 3, 7, 2005, 300, 0, -60, kDaylight, "12:30 AM 3/7/5 -0400"},
        {0, 30, 3, 7, 2005, 300, 30, -60, kStandard, "12:30 AM 3/7/5 -0530"},
        {0, 30, 3, 7, 2005, 300, 30, -60, kNeither, "12:30 AM 3/7/5 -0500"},
        {0, 30, 3, 7, 2005, 30, 0, -60, kDaylight, "12:30 AM 3/7/5 +0030"},
        {0, 30, 3, 7, 2005, -630, 0, -30, kDaylight, "12:30 AM 3/7/5 +1100"},
    };
    for (const auto& each : cases) {
        FixedTimeSource source;
        source.time = {each.year, each.month, 1, each.day, each.hour, each.minute, 0};
        source.zone = {each.bias, each.standardBias, each.daylightBias, "India Standard Time", "India Daylight Time",
                       each.state};
        EXPECT_EQ(text(StatusTimeText(source)), each.text);
    }
}

TEST(LongTimeText, DayClockAndZoneInitials) {
    const std::string longWord(61, 'z');
    const struct {
        int dayOfWeek, hour, minute, second;
        ZoneState state;
        std::string standardName;
        const char* text;
    } cases[] = {
        // The initials of the name in force; without one the empty initials
        // leave two spaces.
        {1, 9, 5, 3, kStandard, "Central Europe Standard Time", "Monday 09:05:03 AM CES 2005/03/07"},
        {1, 9, 5, 3, kDaylight, "Central Europe Standard Time", "Monday 09:05:03 AM CED 2005/03/07"},
        {1, 9, 5, 3, kNeither, "Central Europe Standard Time", "Monday 09:05:03 AM  2005/03/07"},
        // A 24-hour clock with the meridiem.
        {1, 13, 0, 0, kStandard, "Central Europe", "Monday 13:00:00 PM CE 2005/03/07"},
        {1, 0, 0, 0, kStandard, "Central Europe", "Monday 00:00:00 AM CE 2005/03/07"},
        {1, 12, 0, 0, kStandard, "Central Europe", "Monday 12:00:00 PM CE 2005/03/07"},
        {1, 11, 59, 59, kStandard, "Central Europe", "Monday 11:59:59 AM CE 2005/03/07"},
        // At most three initials, the characters after a space as they are
        // (even a space), from the first 64 characters, up to a NUL.
        {1, 9, 5, 3, kStandard, "Pacific Time", "Monday 09:05:03 AM PT 2005/03/07"},
        {1, 9, 5, 3, kStandard, "A B C D E", "Monday 09:05:03 AM ABC 2005/03/07"},
        {1, 9, 5, 3, kStandard, "", "Monday 09:05:03 AM  2005/03/07"},
        {1, 9, 5, 3, kStandard, "A  B", "Monday 09:05:03 AM A B 2005/03/07"},
        {1, 9, 5, 3, kStandard, "Trailing ", "Monday 09:05:03 AM T 2005/03/07"},
        {1, 9, 5, 3, kStandard, "Z" + longWord + " X", "Monday 09:05:03 AM ZX 2005/03/07"},
        {1, 9, 5, 3, kStandard, "Z" + longWord + "z X", "Monday 09:05:03 AM Z 2005/03/07"},
        {1, 9, 5, 3, kStandard, std::string("Mountain\0 Time", 14), "Monday 09:05:03 AM M 2005/03/07"},
        // Every day name, and the days no clock gives.
        {0, 9, 5, 3, kNeither, "", "Sunday 09:05:03 AM  2005/03/07"},
        {2, 9, 5, 3, kNeither, "", "Tuesday 09:05:03 AM  2005/03/07"},
        {3, 9, 5, 3, kNeither, "", "Wednesday 09:05:03 AM  2005/03/07"},
        {4, 9, 5, 3, kNeither, "", "Thursday 09:05:03 AM  2005/03/07"},
        {5, 9, 5, 3, kNeither, "", "Friday 09:05:03 AM  2005/03/07"},
        {6, 9, 5, 3, kNeither, "", "Saturday 09:05:03 AM  2005/03/07"},
        {7, 9, 5, 3, kNeither, "", "UNKNOWN 09:05:03 AM  2005/03/07"},
        {-1, 9, 5, 3, kNeither, "", "UNKNOWN 09:05:03 AM  2005/03/07"},
    };
    for (const auto& each : cases) {
        FixedTimeSource source;
        source.time = {2005, 3, each.dayOfWeek, 7, each.hour, each.minute, each.second};
        source.zone = {-60, 0, -60, each.standardName, "Central Europe Daylight Time", each.state};
        EXPECT_EQ(text(LongTimeText(source)), each.text);
    }
}

// Two readings could straddle a change of hour or of daylight saving; a
// source that runs out of memory gives no text.
TEST(TimeText, EachTextReadsTheSourceOnceOrGivesNone) {
    FixedTimeSource source;
    StatusTimeText(source);
    EXPECT_EQ(source.timeReads, 1);
    EXPECT_EQ(source.zoneReads, 1);
    LongTimeText(source);
    EXPECT_EQ(source.timeReads, 2);
    EXPECT_EQ(source.zoneReads, 2);

    const OutOfMemorySource outOfMemory;
    EXPECT_FALSE(StatusTimeText(outOfMemory).isValid());
    EXPECT_FALSE(LongTimeText(outOfMemory).isValid());
}

// Values no clock gives, from a broken source, must still fit the texts'
// buffers (the sanitizers watch the writes).
TEST(TimeText, ExtremeSourceValuesStayBounded) {
    FixedTimeSource source;
    source.time = {INT_MIN, INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MIN, INT_MIN};
    source.zone = {INT32_MIN, 0, INT32_MIN, "", std::string(100000, 'W'), kDaylight};
    EXPECT_EQ(text(StatusTimeText(source)).substr(0, 15), "-8:-2147483648 ");
    EXPECT_EQ(text(LongTimeText(source)).substr(0, 10), "UNKNOWN -2");
}

} // namespace
} // namespace vp
