// The folders the system keeps for a purpose.
#pragma once

#include <string>

namespace uippack::platform {

enum class KnownFolder {
  // Where every user of the machine keeps shared records: CSIDL_COMMON_APPDATA on Windows, the
  // system's log folder /var/log on POSIX.
  SharedRecords,
  // This user's own state, which nobody else can write to: CSIDL_LOCAL_APPDATA; $XDG_STATE_HOME
  // when it is an absolute path, else $HOME/.local/state (HOME must be absolute).
  UserState,
  // Temporary files: GetTempPathW (ending in a backslash); $TMPDIR when it is an absolute path,
  // else /tmp.
  Temporary,
};

// The folder's path; the Windows shell folders are created if missing. False when the system has
// no such folder or it cannot be had.
bool GetKnownFolder(KnownFolder which, std::wstring* folder);

}  // namespace uippack::platform
