#include "platform/win32/clock_win32.h"

namespace uippack::platform {

CalendarTime ToCalendar(const SYSTEMTIME& fields) {
  CalendarTime time;
  time.year = fields.wYear;
  time.month = fields.wMonth;
  time.day = fields.wDay;
  time.hour = fields.wHour;
  time.minute = fields.wMinute;
  time.second = fields.wSecond;
  time.milliseconds = fields.wMilliseconds;
  return time;
}

CalendarTime LocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return ToCalendar(now);
}

CalendarTime UtcTimeNow() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  return ToCalendar(now);
}

}  // namespace uippack::platform
