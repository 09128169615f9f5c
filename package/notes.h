// Notes: what uippack has to say on standard error beside the fixed console lines (a special
// file left out of the copy, an archive left alone), each said the one way.
#pragma once

#include <string_view>

namespace uippack {

// Writes "uippack: " and the note as one line to standard error.
void WriteNote(std::wstring_view note);

}  // namespace uippack
