// UTF-8 at the POSIX boundary. Bytes that are not valid UTF-8 travel as U+DC80..U+DCFF (the
// low surrogates, which valid UTF-8 never encodes), so a name is carried through unchanged.
#include <string>

#include "platform/text.h"

namespace uippack::platform {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

std::string WideToNarrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t w : text) {
    const auto c = static_cast<char32_t>(w);
    if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - kEscapeBase));
    } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      out += "\xEF\xBF\xBD";  // a lone surrogate that no byte stands for
    } else {
      AppendUtf8(&out, c);
    }
  }
  return out;
}

std::string WideToNarrowBestFit(const std::wstring& text) { return WideToNarrow(text); }

std::wstring NarrowToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t codePoint = 0;
    const std::size_t length = Utf8SequenceLength(text, i, &codePoint);
    if (length == 0) {
      out.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(text[i])));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(codePoint));
      i += length;
    }
  }
  return out;
}

std::wstring Utf8ToWide(std::string_view text) { return NarrowToWide(text); }

}  // namespace uippack::platform
