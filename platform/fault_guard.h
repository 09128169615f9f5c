// Running a step that may touch unreadable memory.
#pragma once

#include <cstdint>

namespace uippack::platform {

enum class FaultKind {
  AccessViolation,  // memory that may not be touched: EXCEPTION_ACCESS_VIOLATION, SIGSEGV
  PageError,        // a mapped page that cannot be read in: EXCEPTION_IN_PAGE_ERROR, SIGBUS
  Other,            // any other error a structured exception reports (Windows only)
};

struct MemoryFault {
  FaultKind kind = FaultKind::Other;
  std::uint32_t systemCode = 0;  // the exception code on Windows, the signal number on POSIX
};

// Runs step(context) and reports whether it completed. A memory fault inside it abandons the
// step at once and gives false with *fault filled. The step is cut short without unwinding, so
// it must not own anything that needs cleanup, and it must not run another guarded step.
bool RunFaultGuarded(void (*step)(void* context), void* context, MemoryFault* fault);

}  // namespace uippack::platform
