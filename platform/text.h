// Text at the boundary to the operating system. Text is wide inside (std::wstring). On Windows
// that is UTF-16 and goes to the wide API unchanged. On POSIX it is converted to UTF-8 at the
// boundary; a byte that is not valid UTF-8 is carried as U+DC80..U+DCFF and turned back into
// the same byte, so any file name a listing returns can be opened again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace uippack::platform {

// The system's narrow encoding: the ANSI code page on Windows (unrepresentable characters
// become its default character), UTF-8 on POSIX (U+DC80..U+DCFF become the raw byte again).
std::string WideToNarrow(std::wstring_view text);
// WideToNarrow for text that is only read, never a name: on Windows a character the code page
// lacks may become a look-alike (best-fit mapping), and the text ends at its first NUL.
std::string WideToNarrowBestFit(const std::wstring& text);
// The reverse of WideToNarrow; on POSIX invalid UTF-8 bytes become U+DC80..U+DCFF.
std::wstring NarrowToWide(std::string_view text);

// UTF-8 text, as uipcheck composes its messages, made wide (on POSIX bytes that are not UTF-8
// travel as U+DC80..U+DCFF, as in NarrowToWide).
std::wstring Utf8ToWide(std::string_view text);

// Length of the UTF-8 sequence that starts text[at] (1 for ASCII), its code point stored in
// *codePoint when given; 0 where the bytes are not UTF-8, which overlong forms, surrogates and
// values past U+10FFFF are not.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at,
                               char32_t* codePoint = nullptr);

// Equal but for letter case, as the options and the mode are compared.
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace uippack::platform
