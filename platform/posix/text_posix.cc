// UTF-8 at the POSIX boundary. Bytes that are not valid UTF-8 travel as U+DC80..U+DCFF (the
// low surrogates, which valid UTF-8 never encodes), so a name is carried through unchanged.
#include <string>

#include "platform/text.h"

namespace uippack::platform {
namespace {

constexpr wchar_t kEscapeBase = 0xDC00;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t ValidSequenceLength(std::string_view text, std::size_t i, char32_t* codePoint) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1Fu, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0Fu, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto byte = static_cast<unsigned char>(text[i + k]);
    if (!IsContinuation(byte)) return 0;
    value = (value << 6) | (byte & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

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
    const std::size_t length = ValidSequenceLength(text, i, &codePoint);
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
