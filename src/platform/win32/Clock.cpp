#include "platform/Clock.h"

#include <cwchar>
#include <windows.h>

namespace vp::platform {

namespace {

// The system keeps zone names as 32 WCHARs; in the ANSI code page each may
// take several bytes.
constexpr size_t kZoneNameChars = 32;
constexpr int kZoneNameBytes = 4 * static_cast<int>(kZoneNameChars);

// The name in the ANSI code page; empty when it cannot be converted or there
// is no memory for it. The system's array need not hold a NUL when full.
void copyName(std::string& target, const WCHAR (&name)[kZoneNameChars]) {
    target.clear();
    const int length = static_cast<int>(wcsnlen(name, kZoneNameChars));
    if (length == 0) return;
    char buffer[kZoneNameBytes];
    const int written = WideCharToMultiByte(CP_ACP, 0, name, length, buffer, sizeof buffer, nullptr, nullptr);
    if (written <= 0) return;
    try {
        target.assign(buffer, static_cast<size_t>(written));
    } catch (...) {
        target.clear();
    }
}

class Win32TimeSource final : public TimeSource {
public:
    LocalDateTime localTime() const override {
        SYSTEMTIME local{};
        GetLocalTime(&local);
        LocalDateTime result;
        result.year = local.wYear;
        result.month = local.wMonth;
        result.dayOfWeek = local.wDayOfWeek;
        result.day = local.wDay;
        result.hour = local.wHour;
        result.minute = local.wMinute;
        result.second = local.wSecond;
        return result;
    }

    TimeZone timeZone() const override {
        TIME_ZONE_INFORMATION information{};
        const DWORD id = GetTimeZoneInformation(&information);
        TimeZone zone;
        if (id == TIME_ZONE_ID_INVALID) return zone;
        zone.bias = information.Bias;
        zone.standardBias = information.StandardBias;
        zone.daylightBias = information.DaylightBias;
        copyName(zone.standardName, information.StandardName);
        copyName(zone.daylightName, information.DaylightName);
        if (id == TIME_ZONE_ID_STANDARD) zone.state = ZoneState::Standard;
        else if (id == TIME_ZONE_ID_DAYLIGHT) zone.state = ZoneState::Daylight;
        else zone.state = ZoneState::Neither;
        return zone;
    }
};

} // namespace

const TimeSource& systemTimeSource() {
    static const Win32TimeSource source;
    return source;
}

} // namespace vp::platform
