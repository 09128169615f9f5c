// Console lines go straight to file descriptor 1 as UTF-8, whatever the locale: the C++ wide
// stream under the default C locale would stop printing at the first non-ASCII character.
#include <cerrno>
#include <string>

#include <unistd.h>

#include "platform/console.h"
#include "platform/text.h"

namespace uippack::platform {

namespace {

void WriteLineTo(int fd, std::wstring_view text) {
  std::string line = WideToNarrow(text);
  line.push_back('\n');
  std::size_t written = 0;
  while (written < line.size()) {
    const ssize_t n = write(fd, line.data() + written, line.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a closed or broken stdout must not stop the run
    }
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace

void WriteConsoleLine(std::wstring_view text) { WriteLineTo(STDOUT_FILENO, text); }

void WriteErrorLine(std::wstring_view text) { WriteLineTo(STDERR_FILENO, text); }

}  // namespace uippack::platform
