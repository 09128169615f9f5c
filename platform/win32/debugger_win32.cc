#include <windows.h>

#include "platform/debugger.h"

namespace uippack::platform {

void SendToDebugger(const std::string& text) { OutputDebugStringA(text.c_str()); }

}  // namespace uippack::platform
