// Text on Windows: the wide API takes UTF-16 as it is; narrow text is the ANSI code page, as the
// narrow API (WinExec) reads it.
#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "platform/win32/text_win32.h"

namespace uippack::platform {
namespace {

// The lengths of Win32 text calls are ints; longer text is not something a path or a command
// line ever is.
bool FitsInt(std::size_t length) { return length <= static_cast<std::size_t>(INT_MAX / 4); }

}  // namespace

std::string WideToCodePage(UINT codePage, DWORD flags, std::wstring_view text) {
  if (text.empty() || !FitsInt(text.size())) return {};
  const int wideLength = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(codePage, flags, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  const int converted = WideCharToMultiByte(codePage, flags, text.data(), wideLength, narrow.data(),
                                            size, nullptr, nullptr);
  narrow.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
  return narrow;
}

std::wstring CodePageToWide(UINT codePage, std::string_view text) {
  if (text.empty() || !FitsInt(text.size())) return {};
  const int narrowLength = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(codePage, 0, text.data(), narrowLength, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  const int converted =
      MultiByteToWideChar(codePage, 0, text.data(), narrowLength, wide.data(), size);
  wide.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
  return wide;
}

std::string WideToNarrow(std::wstring_view text) {
  // No best-fit mapping: it would turn characters the code page lacks into look-alikes such as
  // "\" or ".", and a path converted that way could name another file. The default character
  // ("?") cannot appear in a Windows file name, so a lossy conversion never names a real one.
  return WideToCodePage(CP_ACP, WC_NO_BEST_FIT_CHARS, text);
}

std::string WideToNarrowBestFit(const std::wstring& text) {
  return WideToCodePage(CP_ACP, 0, text.c_str());
}

std::wstring NarrowToWide(std::string_view text) { return CodePageToWide(CP_ACP, text); }

std::wstring Utf8ToWide(std::string_view text) { return CodePageToWide(CP_UTF8, text); }

}  // namespace uippack::platform
