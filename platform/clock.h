// The calendar clock.
#pragma once

namespace uippack::platform {

// A calendar time broken into fields: month 1..12, day 1..31, hour 0..23, milliseconds 0..999.
struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// Now, as local time (GetLocalTime; localtime_r) and as UTC (GetSystemTime; gmtime_r).
CalendarTime LocalTimeNow();
CalendarTime UtcTimeNow();

}  // namespace uippack::platform
