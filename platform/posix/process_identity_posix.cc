#include "platform/process_identity.h"

#include <unistd.h>

#include <cstdint>

#if defined(__APPLE__)
#include <pthread.h>
#endif

#include "platform/process.h"

namespace uippack::platform {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

unsigned long CurrentThreadId() {
#if defined(__APPLE__)
  std::uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return static_cast<unsigned long>(id);
#else
  return static_cast<unsigned long>(gettid());
#endif
}

// Every library of ours is a static one: whatever address of ours is asked about, the module
// that holds it is the executable.
bool GetModulePathOf(const void* /*address*/, std::wstring* path) {
  return GetExecutablePath(path);
}

}  // namespace uippack::platform
