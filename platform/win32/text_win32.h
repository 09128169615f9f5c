// Narrow text in a chosen code page, the one conversion every Win32 caller of this layer uses.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace uippack::platform {

// WideCharToMultiByte with flags; empty when the text is empty or cannot be converted.
std::string WideToCodePage(UINT codePage, DWORD flags, std::wstring_view text);
// MultiByteToWideChar; empty when the text is empty or cannot be converted.
std::wstring CodePageToWide(UINT codePage, std::string_view text);

}  // namespace uippack::platform
