// Calendar fields from a SYSTEMTIME, for the clock and file times alike.
#pragma once

#include <windows.h>

#include "platform/clock.h"

namespace uippack::platform {

CalendarTime ToCalendar(const SYSTEMTIME& fields);

}  // namespace uippack::platform
