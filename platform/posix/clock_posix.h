// Calendar fields from the C library's broken-down time, for the clock and file times alike.
#pragma once

#include <ctime>

#include "platform/clock.h"

namespace uippack::platform {

CalendarTime ToCalendar(const std::tm& fields, long nanoseconds);

}  // namespace uippack::platform
