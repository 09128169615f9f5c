// Console lines on Windows.
//
// A console gets the line as UTF-16 through WriteConsoleW, which shows every script the
// console's font has, whatever the code page. Redirected output (a file or a pipe) gets UTF-8
// bytes; UTF-8 rather than the ANSI code page so that no name comes out as "?". Either way
// every line feed, the closing one and those inside a message, is written as "\r\n", as a
// text-mode stream writes it. Each line is written on its own, so a character that cannot be
// shown never silences the lines after it, as the C runtime's wide stream does once a
// conversion fails.
#include <windows.h>

#include <string>

#include "platform/console.h"
#include "platform/handle.h"
#include "platform/win32/text_win32.h"

namespace uippack::platform {
namespace {

// The text with every "\n" written as "\r\n", and one more "\r\n" at its end.
std::wstring WithLineEnds(std::wstring_view text) {
  std::wstring line;
  line.reserve(text.size() + 8);
  for (const wchar_t c : text) {
    if (c == L'\n') line.push_back(L'\r');
    line.push_back(c);
  }
  line += L"\r\n";
  return line;
}

bool IsConsole(HANDLE output) {
  DWORD mode = 0;
  return GetConsoleMode(output, &mode) != 0;
}

void WriteLineTo(DWORD stream, std::wstring_view text) {
  const HANDLE output = GetStdHandle(stream);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;

  if (IsConsole(output)) {
    const std::wstring line = WithLineEnds(text);
    const wchar_t* at = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(left < 16384 ? left : 16384);
      if (!WriteConsoleW(output, at, chunk, &written, nullptr) || written == 0) return;
      at += written;
      left -= written;
    }
    return;
  }

  const std::string line = WideToCodePage(CP_UTF8, 0, WithLineEnds(text));
  // A closed or broken output must not stop the run, so a failed write is let go. Pipes and
  // files take the bytes at once; nothing of ours is buffered to flush.
  WriteAll(output, line.data(), line.size());
}

}  // namespace

void WriteConsoleLine(std::wstring_view text) { WriteLineTo(STD_OUTPUT_HANDLE, text); }

void WriteErrorLine(std::wstring_view text) { WriteLineTo(STD_ERROR_HANDLE, text); }

bool StandardErrorIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

}  // namespace uippack::platform
