// SIGSEGV and SIGBUS caught for the guarded step alone, which is left by a jump.
#include "platform/fault_guard.h"

#include <signal.h>

#include <csetjmp>
#include <mutex>

namespace uippack::platform {
namespace {

struct FaultGuard {
  sigjmp_buf resume;
  int signalNumber = 0;
};

thread_local FaultGuard* tActiveGuard = nullptr;

// One guarded step at a time per process: the handlers are process-wide.
std::mutex gGuardMutex;
struct sigaction gPreviousSegv {};
struct sigaction gPreviousBus {};

void OnFault(int signalNumber, siginfo_t*, void*) {
  FaultGuard* guard = tActiveGuard;
  if (guard == nullptr) {
    // Another thread's fault: hand it back to whoever handled it before; the faulting
    // instruction runs again and faults into that handler.
    sigaction(signalNumber, signalNumber == SIGBUS ? &gPreviousBus : &gPreviousSegv, nullptr);
    return;
  }
  tActiveGuard = nullptr;
  guard->signalNumber = signalNumber;
  siglongjmp(guard->resume, 1);
}

}  // namespace

bool RunFaultGuarded(void (*step)(void* context), void* context, MemoryFault* fault) {
  std::lock_guard<std::mutex> serialised(gGuardMutex);
  FaultGuard guard;

  struct sigaction onFault {};
  onFault.sa_sigaction = OnFault;
  onFault.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&onFault.sa_mask);
  sigaction(SIGSEGV, &onFault, &gPreviousSegv);
  sigaction(SIGBUS, &onFault, &gPreviousBus);
  struct Restore {
    ~Restore() {
      tActiveGuard = nullptr;
      sigaction(SIGSEGV, &gPreviousSegv, nullptr);
      sigaction(SIGBUS, &gPreviousBus, nullptr);
    }
  } restore;

  if (sigsetjmp(guard.resume, 1) != 0) {
    fault->kind = guard.signalNumber == SIGBUS ? FaultKind::PageError : FaultKind::AccessViolation;
    fault->systemCode = static_cast<std::uint32_t>(guard.signalNumber);
    return false;
  }
  tActiveGuard = &guard;
  step(context);
  return true;
}

}  // namespace uippack::platform
