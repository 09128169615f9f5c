// The debugger's output channel.
#pragma once

#include <string>

namespace uippack::platform {

// Hands narrow text to an attached debugger (OutputDebugStringA). POSIX has no such channel.
void SendToDebugger(const std::string& text);

}  // namespace uippack::platform
