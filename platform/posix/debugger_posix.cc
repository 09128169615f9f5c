#include "platform/debugger.h"

namespace uippack::platform {

void SendToDebugger(const std::string&) {}

}  // namespace uippack::platform
