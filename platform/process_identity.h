// Who is running: this process, the calling thread and the module that holds some code.
#pragma once

#include <string>

namespace uippack::platform {

// GetCurrentProcessId; getpid.
unsigned long CurrentProcessId();
// GetCurrentThreadId; the kernel's thread id on POSIX (gettid, pthread_threadid_np).
unsigned long CurrentThreadId();

// The full path of the module (executable or shared library) that holds address; false when
// it cannot be had or is longer than the platform allows.
bool GetModulePathOf(const void* address, std::wstring* path);

}  // namespace uippack::platform
