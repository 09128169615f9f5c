#include "platform/known_folder.h"

#include <cstdlib>
#include <optional>

#include "platform/text.h"

namespace uippack::platform {
namespace {

// The variable's value when it is an absolute path. A relative one names a different place in
// every folder a run starts from, and "." would put a folder open to all wherever that is.
std::optional<std::string> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

std::optional<std::string> UserStateFolder() {
  if (std::optional<std::string> state = AbsoluteFromEnvironment("XDG_STATE_HOME")) return state;
  const std::optional<std::string> home = AbsoluteFromEnvironment("HOME");
  if (!home) return std::nullopt;
  return *home + "/.local/state";
}

}  // namespace

bool GetKnownFolder(KnownFolder which, std::wstring* folder) {
  std::optional<std::string> path;
  switch (which) {
    case KnownFolder::SharedRecords:
      path = "/var/log";
      break;
    case KnownFolder::UserState:
      path = UserStateFolder();
      break;
    case KnownFolder::Temporary:
      path = AbsoluteFromEnvironment("TMPDIR").value_or("/tmp");
      break;
  }
  if (!path) return false;
  *folder = NarrowToWide(*path);
  return true;
}

}  // namespace uippack::platform
