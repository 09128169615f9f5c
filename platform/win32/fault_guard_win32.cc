// The fault guard on Windows: structured exception handling where the compiler has it, else a
// vectored handler that sends the faulting thread back to the guard.
#include <windows.h>

#include "platform/fault_guard.h"

namespace uippack::platform {
namespace {

MemoryFault FaultOf(DWORD code) {
  const FaultKind kind = code == EXCEPTION_ACCESS_VIOLATION ? FaultKind::AccessViolation
                         : code == EXCEPTION_IN_PAGE_ERROR  ? FaultKind::PageError
                                                            : FaultKind::Other;
  return MemoryFault{kind, code};
}

}  // namespace

#if defined(_MSC_VER)

namespace {

int TakeCode(DWORD code, MemoryFault* fault) {
  *fault = FaultOf(code);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

bool RunFaultGuarded(void (*step)(void* context), void* context, MemoryFault* fault) {
  __try {
    step(context);
  } __except (TakeCode(GetExceptionCode(), fault)) {
    return false;
  }
  return true;
}

#else  // No __try here: a vectored handler redirects the faulting thread back to the guard.

namespace {

// Kept outside any frame: values in the guarded frame may be stale in registers or copies when
// the jump lands, while this is read afresh.
struct FaultGuard {
  void* resume[5] = {};  // the frame __builtin_setjmp records
  DWORD code = 0;
  bool active = false;
};

thread_local FaultGuard tGuard;

[[noreturn]] void ResumeAfterFault() {
  tGuard.active = false;
  __builtin_longjmp(tGuard.resume, 1);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  // Only errors of the guarded thread; warnings, notices and C++ throws pass through.
  constexpr DWORD kSeverityMask = 0xC0000000;
  if (!tGuard.active || (code & kSeverityMask) != kSeverityMask ||
      code == EXCEPTION_STACK_OVERFLOW) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  tGuard.code = code;
  // Continue in ResumeAfterFault as if it had been called a little below the faulting frame;
  // it leaves the exception dispatch behind before jumping back to the guard.
  CONTEXT* registers = exception->ContextRecord;
#if defined(__x86_64__)
  registers->Rsp = ((registers->Rsp - 512) & ~DWORD64{15}) - 8;
  registers->Rip = reinterpret_cast<DWORD64>(&ResumeAfterFault);
#elif defined(__i386__)
  registers->Esp = ((registers->Esp - 512) & ~DWORD{15}) - 4;
  registers->Eip = reinterpret_cast<DWORD>(&ResumeAfterFault);
#elif defined(__aarch64__)
  registers->Sp = (registers->Sp - 512) & ~DWORD64{15};
  registers->Pc = reinterpret_cast<DWORD64>(&ResumeAfterFault);
#else
#error "no fault guard for this processor"
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool RunFaultGuarded(void (*step)(void* context), void* context, MemoryFault* fault) {
  struct Registration {
    PVOID handler = AddVectoredExceptionHandler(1, OnException);
    ~Registration() {
      tGuard.active = false;
      if (handler != nullptr) RemoveVectoredExceptionHandler(handler);
    }
  } registration;
  if (__builtin_setjmp(tGuard.resume) != 0) {
    *fault = FaultOf(tGuard.code);
    return false;
  }
  tGuard.active = true;
  step(context);
  return true;
}

#endif

}  // namespace uippack::platform
