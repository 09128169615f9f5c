// The C library's settings for this process.
#pragma once

namespace uippack::platform {

// Makes the C library's character set UTF-8 whatever the environment says: every C library the
// tool is built with has one (C.UTF-8 in glibc and musl, UTF-8 on macOS).
void UseUtf8CharacterSet();
// Makes local time UTC for this process, so that turning a time into local time never reads the
// system's zone files again. On Windows the process keeps the system's zone.
void UseUtcAsLocalTime();

}  // namespace uippack::platform
