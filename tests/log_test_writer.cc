// Test helper: log_test_writer <app-data folder> <temp folder> <count> writes count records
// through LogWrite with the shared log's folders pointed at the given ones. A folder of "-"
// cannot be had. The user's own folder is the system's (XDG_STATE_HOME).
#include <cstdlib>
#include <string>

#include "log/log_environment.h"
#include "log/log_write.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  using uippack::platform::NarrowToWide;
  if (argc != 4) return 2;
  // The folder, and whether it may be had.
  const auto folder = [](const std::string& path) {
    return [=](std::wstring* out) { return *out = NarrowToWide(path), path != "-"; };
  };
  auto environment = uippack::logging::SystemLogEnvironment();
  environment.commonAppDataFolder = folder(argv[1]);
  environment.tempFolder = folder(argv[2]);
  uippack::logging::SetLogEnvironment(environment);

  // Long enough that a torn or interleaved write would show.
  const std::wstring payload(200, L'=');
  for (int i = 0, count = std::atoi(argv[3]); i < count; ++i)
    uippack::LogWrite(L"record %d %s end", i, payload.c_str());
  return 0;
}
