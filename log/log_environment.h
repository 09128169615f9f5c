// What the log asks of its surroundings beyond files and locks: the folders it may live in and
// the clock. Tests replace them to place the log in a scratch folder and move "now".
#pragma once

#include <functional>
#include <string>

#include "platform/clock.h"

namespace uippack::logging {

struct LogEnvironment {
  // The machine-wide application-data folder; false when it cannot be had.
  std::function<bool(std::wstring* folder)> commonAppDataFolder;
  // The temporary-files folder, the fallback; false when it cannot be had.
  std::function<bool(std::wstring* folder)> tempFolder;
  // The user's own state folder, for records the shared log cannot take; false when it cannot be
  // had.
  std::function<bool(std::wstring* folder)> userStateFolder;
  // The record's time stamp.
  std::function<platform::CalendarTime()> localTime;
  // "Now" for the monthly replacement.
  std::function<platform::CalendarTime()> utcTime;
};

// The system's folders and clock.
LogEnvironment SystemLogEnvironment();

// Replaces what every later LogWrite uses. Not synchronised with writers: set it before any
// thread logs.
void SetLogEnvironment(LogEnvironment environment);

}  // namespace uippack::logging
