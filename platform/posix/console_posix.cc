// Console lines go straight to file descriptor 1 as UTF-8, whatever the locale: the C++ wide
// stream under the default C locale would stop printing at the first non-ASCII character.
#include <string>

#include <unistd.h>

#include "platform/console.h"
#include "platform/handle.h"
#include "platform/text.h"

namespace uippack::platform {

namespace {

void WriteLineTo(int fd, std::wstring_view text) {
  std::string line = WideToNarrow(text);
  line.push_back('\n');
  // A closed or broken stdout must not stop the run, so a failed write is let go.
  WriteAll(fd, line.data(), line.size());
}

}  // namespace

void WriteConsoleLine(std::wstring_view text) { WriteLineTo(STDOUT_FILENO, text); }

void WriteErrorLine(std::wstring_view text) { WriteLineTo(STDERR_FILENO, text); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace uippack::platform
