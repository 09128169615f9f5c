// uippack: turns a UI package directory into its shipping form (-p) and back (-u).
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "platform/process.h"
#include "platform/text.h"

#ifdef _WIN32
// The wide entry point: the runtime splits the command line without expanding wildcards.
int wmain(int argc, wchar_t** argv) {
  uippack::platform::PrepareProcess();
  std::vector<std::wstring> arguments(argv, argv + argc);
  return uippack::RunDriver(arguments);
}
#else
int main(int argc, char** argv) {
  uippack::platform::PrepareProcess();
  std::vector<std::wstring> arguments;
  arguments.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) arguments.push_back(uippack::platform::NarrowToWide(argv[i]));
  return uippack::RunDriver(arguments);
}
#endif
