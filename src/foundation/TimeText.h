#pragma once
// The two clock texts: the short stamp on status lines ("12:30 AM 3/7/5 +0530")
// and the long one with day name and zone ("Monday 09:05:03 AM CES 2005/03/07").
//
// Each reads the local time and the zone once from the source. The result is
// !isValid() when memory runs out (or the source cannot deliver its values).

#include "foundation/TextString.h"
#include "platform/Clock.h"

namespace vp {

// "hh:mm AM m/d/y +hhmm": 12-hour time, two-digit year, offset from UTC.
TextString StatusTimeText(const platform::TimeSource& source = platform::systemTimeSource());

// "Dayname HH:MM:SS AM ZZZ YYYY/MM/DD": 24-hour time, zone initials (empty
// when the zone has no daylight saving, which leaves two spaces in a row).
TextString LongTimeText(const platform::TimeSource& source = platform::systemTimeSource());

} // namespace vp
