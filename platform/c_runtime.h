// The C library's settings for this process.
#pragma once

namespace uippack::platform {

// Makes the C library's character set UTF-8 whatever the environment says; false when the system
// has no UTF-8 locale.
bool UseUtf8CharacterSet();
// Makes local time UTC for this process, so that turning a time into local time never reads the
// system's zone files again. On Windows the process keeps the system's zone.
void UseUtcAsLocalTime();

}  // namespace uippack::platform
