#include "platform/posix/clock_posix.h"

#include <time.h>

namespace uippack::platform {
namespace {

CalendarTime Now(std::tm* (*breakDown)(const std::time_t*, std::tm*)) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::tm fields{};
  breakDown(&now.tv_sec, &fields);
  return ToCalendar(fields, now.tv_nsec);
}

}  // namespace

CalendarTime ToCalendar(const std::tm& fields, long nanoseconds) {
  CalendarTime time;
  time.year = fields.tm_year + 1900;
  time.month = fields.tm_mon + 1;
  time.day = fields.tm_mday;
  time.hour = fields.tm_hour;
  time.minute = fields.tm_min;
  time.second = fields.tm_sec;
  time.milliseconds = static_cast<int>(nanoseconds / 1000000);
  return time;
}

CalendarTime LocalTimeNow() { return Now(localtime_r); }
CalendarTime UtcTimeNow() { return Now(gmtime_r); }

}  // namespace uippack::platform
