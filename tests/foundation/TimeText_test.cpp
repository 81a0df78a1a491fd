#include "foundation/TimeText.h"

#include <climits>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vp {
namespace {

using platform::LocalDateTime;
using platform::TimeZone;
using platform::ZoneState;

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

// As std::string, so that a failed comparison prints the text.
std::string text(const TextString& value) {
    EXPECT_TRUE(value.isValid());
    return value.c_str();
}

// A zone whose names cannot be allocated.
class OutOfMemorySource final : public platform::TimeSource {
public:
    LocalDateTime localTime() const override { return {}; }
    TimeZone timeZone() const override { throw std::bad_alloc(); }
};

// 7 March 2005, a Monday, 00:30:00, India (no daylight saving).
FixedTimeSource march7() {
    FixedTimeSource source;
    source.time = {2005, 3, 1, 7, 0, 30, 0};
    source.zone.bias = -330;
    source.zone.standardName = "India Standard Time";
    source.zone.daylightName = "India Daylight Time";
    source.zone.state = ZoneState::Neither;
    return source;
}

std::string statusAt(int hour, int minute) {
    FixedTimeSource source = march7();
    source.time.hour = hour;
    source.time.minute = minute;
    return text(StatusTimeText(source));
}

std::string statusWithZone(int32_t bias, int32_t standardBias, int32_t daylightBias, ZoneState state) {
    FixedTimeSource source = march7();
    source.zone.bias = bias;
    source.zone.standardBias = standardBias;
    source.zone.daylightBias = daylightBias;
    source.zone.state = state;
    return text(StatusTimeText(source));
}

TEST(StatusTimeText, TwelveHourClockWithMidnightAndNoonAsTwelve) {
    EXPECT_EQ(statusAt(0, 30), "12:30 AM 3/7/5 +0530");
    EXPECT_EQ(statusAt(0, 0), "12:00 AM 3/7/5 +0530");
    EXPECT_EQ(statusAt(9, 5), "09:05 AM 3/7/5 +0530");
    EXPECT_EQ(statusAt(11, 59), "11:59 AM 3/7/5 +0530");
    EXPECT_EQ(statusAt(12, 5), "12:05 PM 3/7/5 +0530");
    EXPECT_EQ(statusAt(13, 0), "01:00 PM 3/7/5 +0530");
    EXPECT_EQ(statusAt(23, 59), "11:59 PM 3/7/5 +0530");
}

TEST(StatusTimeText, OffsetSignAndDigitsFromTheBias) {
    // Bias is UTC minus local: negative east of Greenwich, shown as "+".
    EXPECT_EQ(statusWithZone(-330, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 +0530");
    EXPECT_EQ(statusWithZone(-345, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 +0545");
    EXPECT_EQ(statusWithZone(0, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 +0000");
    EXPECT_EQ(statusWithZone(300, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 -0500");
    EXPECT_EQ(statusWithZone(570, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 -0930");
    EXPECT_EQ(statusWithZone(-840, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 +1400");
    // One minute either side of UTC: the sign turns at a bias of 1.
    EXPECT_EQ(statusWithZone(1, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 -0001");
    EXPECT_EQ(statusWithZone(-1, 0, 0, ZoneState::Neither), "12:30 AM 3/7/5 +0001");
}

TEST(StatusTimeText, ExtraBiasOnlyOfTheOffsetInForce) {
    EXPECT_EQ(statusWithZone(300, 0, -60, ZoneState::Daylight), "12:30 AM 3/7/5 -0400");
    EXPECT_EQ(statusWithZone(300, 0, -60, ZoneState::Standard), "12:30 AM 3/7/5 -0500");
    EXPECT_EQ(statusWithZone(300, 30, -60, ZoneState::Standard), "12:30 AM 3/7/5 -0530");
    EXPECT_EQ(statusWithZone(300, 30, -60, ZoneState::Neither), "12:30 AM 3/7/5 -0500");
    // Daylight saving can carry the offset across UTC.
    EXPECT_EQ(statusWithZone(30, 0, -60, ZoneState::Daylight), "12:30 AM 3/7/5 +0030");
    EXPECT_EQ(statusWithZone(-630, 0, -30, ZoneState::Daylight), "12:30 AM 3/7/5 +1100");
}

TEST(StatusTimeText, DateWithoutLeadingZerosAndTwoDigitYear) {
    FixedTimeSource source = march7();
    source.time.year = 2010;
    source.time.month = 12;
    source.time.day = 31;
    EXPECT_EQ(text(StatusTimeText(source)), "12:30 AM 12/31/10 +0530");
    source.time.year = 2000;
    source.time.month = 1;
    source.time.day = 1;
    EXPECT_EQ(text(StatusTimeText(source)), "12:30 AM 1/1/0 +0530");
}

FixedTimeSource monday0905() {
    FixedTimeSource source;
    source.time = {2005, 3, 1, 7, 9, 5, 3};
    source.zone.bias = -60;
    source.zone.daylightBias = -60;
    source.zone.standardName = "Central Europe Standard Time";
    source.zone.daylightName = "Central Europe Daylight Time";
    source.zone.state = ZoneState::Standard;
    return source;
}

std::string longWithName(const std::string& name) {
    FixedTimeSource source = monday0905();
    source.zone.standardName = name;
    return text(LongTimeText(source));
}

TEST(LongTimeText, WholeTextInEachZoneState) {
    FixedTimeSource source = monday0905();
    EXPECT_EQ(text(LongTimeText(source)), "Monday 09:05:03 AM CES 2005/03/07");
    source.zone.state = ZoneState::Daylight;
    EXPECT_EQ(text(LongTimeText(source)), "Monday 09:05:03 AM CED 2005/03/07");
    // Without a zone in force the empty initials leave two spaces.
    source.zone.state = ZoneState::Neither;
    EXPECT_EQ(text(LongTimeText(source)), "Monday 09:05:03 AM  2005/03/07");
}

TEST(LongTimeText, TwentyFourHourClockWithMeridiem) {
    FixedTimeSource source = monday0905();
    source.time.hour = 13;
    source.time.minute = 0;
    source.time.second = 0;
    EXPECT_EQ(text(LongTimeText(source)), "Monday 13:00:00 PM CES 2005/03/07");
    source.time.hour = 0;
    EXPECT_EQ(text(LongTimeText(source)), "Monday 00:00:00 AM CES 2005/03/07");
    source.time.hour = 12;
    EXPECT_EQ(text(LongTimeText(source)), "Monday 12:00:00 PM CES 2005/03/07");
    source.time.hour = 11;
    source.time.minute = 59;
    source.time.second = 59;
    EXPECT_EQ(text(LongTimeText(source)), "Monday 11:59:59 AM CES 2005/03/07");
}

TEST(LongTimeText, ZoneInitials) {
    EXPECT_EQ(longWithName("UTC"), "Monday 09:05:03 AM U 2005/03/07");
    EXPECT_EQ(longWithName("Pacific Time"), "Monday 09:05:03 AM PT 2005/03/07");
    EXPECT_EQ(longWithName("A B C D E"), "Monday 09:05:03 AM ABC 2005/03/07");
    EXPECT_EQ(longWithName(""), "Monday 09:05:03 AM  2005/03/07");
    // The characters after a space are taken as they are, even a space.
    EXPECT_EQ(longWithName("A  B"), "Monday 09:05:03 AM A B 2005/03/07");
    EXPECT_EQ(longWithName("Trailing "), "Monday 09:05:03 AM T 2005/03/07");
    // Only the first 64 characters are searched.
    const std::string longWord(61, 'z');
    EXPECT_EQ(longWithName("Z" + longWord + " X"), "Monday 09:05:03 AM ZX 2005/03/07");
    EXPECT_EQ(longWithName("Z" + longWord + "zz X"), "Monday 09:05:03 AM Z 2005/03/07");
    // The name ends at a NUL, as a system name does.
    EXPECT_EQ(longWithName(std::string("Mountain\0 Time", 14)), "Monday 09:05:03 AM M 2005/03/07");
}

TEST(LongTimeText, DayNamesAndUnknownDays) {
    const char* const names[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    FixedTimeSource source = monday0905();
    for (int day = 0; day < 7; ++day) {
        source.time.dayOfWeek = day;
        EXPECT_EQ(text(LongTimeText(source)), std::string(names[day]) + " 09:05:03 AM CES 2005/03/07");
    }
    source.time.dayOfWeek = 7;
    EXPECT_EQ(text(LongTimeText(source)), "UNKNOWN 09:05:03 AM CES 2005/03/07");
    source.time.dayOfWeek = -1;
    EXPECT_EQ(text(LongTimeText(source)), "UNKNOWN 09:05:03 AM CES 2005/03/07");
}

// Two readings could straddle a change of hour or of daylight saving.
TEST(TimeText, EachTextReadsTheSourceOnce) {
    FixedTimeSource source = monday0905();
    StatusTimeText(source);
    EXPECT_EQ(source.timeReads, 1);
    EXPECT_EQ(source.zoneReads, 1);
    LongTimeText(source);
    EXPECT_EQ(source.timeReads, 2);
    EXPECT_EQ(source.zoneReads, 2);
}

TEST(TimeText, SourceOutOfMemoryGivesAnInvalidText) {
    const OutOfMemorySource source;
    EXPECT_FALSE(StatusTimeText(source).isValid());
    EXPECT_FALSE(LongTimeText(source).isValid());
}

// Values no clock gives, from a broken source, must still fit the texts'
// buffers (the sanitizers watch the writes).
TEST(TimeText, ExtremeSourceValuesStayBounded) {
    FixedTimeSource source = monday0905();
    source.time = {INT_MIN, INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MIN, INT_MIN};
    source.zone.bias = INT32_MIN;
    source.zone.daylightBias = INT32_MIN;
    source.zone.daylightName = std::string(100000, 'W');
    source.zone.state = ZoneState::Daylight;
    EXPECT_EQ(text(StatusTimeText(source)).substr(0, 15), "-8:-2147483648 ");
    EXPECT_EQ(text(LongTimeText(source)).substr(0, 10), "UNKNOWN -2");
}


} // namespace
} // namespace vp
