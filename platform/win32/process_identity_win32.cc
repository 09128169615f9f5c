#include <windows.h>

#include "platform/process_identity.h"

namespace uippack::platform {

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }
unsigned long CurrentThreadId() { return GetCurrentThreadId(); }

bool GetModulePathOf(const void* address, std::wstring* path) {
  MEMORY_BASIC_INFORMATION region{};
  if (VirtualQuery(address, &region, sizeof region) == 0) return false;
  // A module's regions all share the allocation base, which is the module's handle.
  const auto module = static_cast<HMODULE>(region.AllocationBase);
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  path->assign(buffer, length);
  return true;
}

}  // namespace uippack::platform
