#include "package/notes.h"

#include <string>

#include "platform/console.h"

namespace uippack {

void WriteNote(std::wstring_view note) {
  platform::WriteErrorLine(std::wstring(L"uippack: ").append(note));
}

}  // namespace uippack
