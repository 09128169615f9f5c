#include "platform/tree_copy.h"

namespace uippack::platform {

// xcopy, started as the copy command, follows links itself: nothing is copied in process here.
bool CopyTreeFollowingLinks(const std::wstring&, const std::wstring&, const NoteSink&) {
  return false;
}

}  // namespace uippack::platform
