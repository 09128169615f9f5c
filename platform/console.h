// Console lines.
#pragma once

#include <string_view>

namespace uippack::platform {

// Writes text and one line end to standard output in a single write, then flushes. Never
// fails in a way that stops later lines (a broken pipe is ignored).
void WriteConsoleLine(std::wstring_view text);
// The same on standard error, for what the fixed console lines have no words for.
void WriteErrorLine(std::wstring_view text);
// True when standard error is a terminal, where a progress line may be redrawn.
bool StandardErrorIsTerminal();

}  // namespace uippack::platform
