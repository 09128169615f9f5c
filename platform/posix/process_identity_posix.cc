#include "platform/process_identity.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>

#if defined(__GLIBC__)
#include <link.h>
#endif
#if defined(__APPLE__)
#include <pthread.h>
#endif

#include "platform/process.h"
#include "platform/text.h"

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

bool GetModulePathOf(const void* address, std::wstring* path) {
  Dl_info info{};
#if defined(__GLIBC__)
  link_map* map = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
      map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
    *path = NarrowToWide(map->l_name);
    return true;
  }
#else
  if (dladdr(address, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] == '/') {
    *path = NarrowToWide(info.dli_fname);
    return true;
  }
#endif
  // The main program has no name of its own in the loader's list, and in a static link the
  // executable is the only module there is.
  return GetExecutablePath(path);
}

}  // namespace uippack::platform
