#include "foundation/TimeText.h"

#include <cinttypes>
#include <cstdio>

namespace vp {

namespace {

// Large enough for every field at its widest (an int is at most 11 characters,
// a 64-bit offset hour at most 20), so a broken source with huge or negative
// values still cannot overflow; snprintf bounds it again regardless.
constexpr size_t kTextBufferSize = 192;

// Zone names are searched only this far for initials.
constexpr size_t kInitialsSearchLength = 64;
constexpr size_t kMaxInitials = 3;

// The formatted bytes as a text; snprintf's result is clamped because a text
// that did not fit is still better shown cut than not at all.
TextString textFromBuffer(const char* buffer, int written) {
    if (written < 0) return TextString::none();
    uint32_t count = static_cast<uint32_t>(written);
    if (count >= kTextBufferSize) count = static_cast<uint32_t>(kTextBufferSize - 1);
    return TextString(buffer, count);
}

// Reads both values from the source once. Returns false when the source could
// not deliver them (its zone names need memory), which the callers report the
// same way as their own allocation failing.
bool readSource(const platform::TimeSource& source, platform::LocalDateTime& time,
                platform::TimeZone& zone) {
    try {
        time = source.localTime();
        zone = source.timeZone();
        return true;
    } catch (...) {
        return false;
    }
}

// UTC minus local time in minutes, with the extra bias of whichever offset is
// in force. Summed in 64 bits: three 32-bit biases from a broken source must
// not overflow.
int64_t effectiveBias(const platform::TimeZone& zone) {
    int64_t bias = zone.bias;
    if (zone.state == platform::ZoneState::Standard) bias += zone.standardBias;
    else if (zone.state == platform::ZoneState::Daylight) bias += zone.daylightBias;
    return bias;
}

const char* dayName(int dayOfWeek) {
    static constexpr const char* kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                "Thursday", "Friday", "Saturday"};
    if (dayOfWeek < 0 || dayOfWeek > 6) return "UNKNOWN";
    return kDayNames[dayOfWeek];
}

// The first character of the name and each character right after a space, at
// most three, looking only at the first 64 characters ("Central Europe
// Standard Time" gives "CES", "EST" gives "E").
void zoneInitials(const std::string& name, char (&initials)[kMaxInitials + 1]) {
    // The name ends at its first NUL, as it did in the system's buffer.
    size_t searched = 0;
    while (searched < name.size() && searched < kInitialsSearchLength && name[searched] != '\0') ++searched;
    size_t count = 0;
    if (searched > 0) initials[count++] = name[0];
    for (size_t i = 0; i + 1 < searched && count < kMaxInitials; ++i) {
        if (name[i] == ' ') initials[count++] = name[i + 1];
    }
    initials[count] = '\0';
}

} // namespace

TextString StatusTimeText(const platform::TimeSource& source) {
    platform::LocalDateTime time;
    platform::TimeZone zone;
    if (!readSource(source, time, zone)) return TextString::none();

    // Hours truncate toward zero and the remainder keeps the sign of the bias;
    // the text shows both as magnitudes after the sign. A bias of zero counts
    // as "+": local time at or ahead of UTC.
    const int64_t bias = effectiveBias(zone);
    const int64_t hours = bias / 60;
    const int64_t minutes = (bias - 60 * hours) % 60;
    const char sign = bias < 1 ? '+' : '-';

    int hour12 = time.hour % 12;
    if (hour12 == 0) hour12 = 12;
    const char* meridiem = time.hour < 12 ? "AM" : "PM";

    char buffer[kTextBufferSize];
    const int written = std::snprintf(buffer, sizeof buffer, "%02d:%02d %s %d/%d/%d %c%02" PRId64 "%02" PRId64,
                                      hour12, time.minute, meridiem, time.month, time.day, time.year % 100, sign,
                                      hours < 0 ? -hours : hours, minutes < 0 ? -minutes : minutes);
    return textFromBuffer(buffer, written);
}

TextString LongTimeText(const platform::TimeSource& source) {
    platform::LocalDateTime time;
    platform::TimeZone zone;
    if (!readSource(source, time, zone)) return TextString::none();

    char initials[kMaxInitials + 1] = {};
    if (zone.state == platform::ZoneState::Standard) zoneInitials(zone.standardName, initials);
    else if (zone.state == platform::ZoneState::Daylight) zoneInitials(zone.daylightName, initials);

    const char* meridiem = time.hour < 12 ? "AM" : "PM";

    char buffer[kTextBufferSize];
    const int written = std::snprintf(buffer, sizeof buffer, "%s %02d:%02d:%02d %s %s %04d/%02d/%02d",
                                      dayName(time.dayOfWeek), time.hour, time.minute, time.second, meridiem,
                                      initials, time.year, time.month, time.day);
    return textFromBuffer(buffer, written);
}

} // namespace vp
