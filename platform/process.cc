// How an argument enters a command line that the Windows rules split (on POSIX too, where the
// same splitter reads the line, no shell): unchanged when plain, otherwise in double quotes.
#include "platform/process.h"

namespace uippack::platform {
namespace {

// Characters no program's argument splitting treats specially. cmd.exe also splits at "," ";"
// and "=", so those are quoted too.
bool IsPlainCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'/' || c == L'\\' || c == L':' || c == L'.' || c == L'_' || c == L'-' || c == L'+' ||
         c == L'~' || c == L'@' || c == L'*';
}

}  // namespace

bool QuoteCommandArgument(std::wstring_view argument, bool endsInWildcard, std::wstring* quoted) {
  if (!ReachesProgramLiterally(argument, endsInWildcard)) return false;
  bool plain = !argument.empty();
  for (const wchar_t c : argument) plain = plain && IsPlainCharacter(c);
  if (plain) {
    quoted->assign(argument);
    return true;
  }
  quoted->assign(1, L'"');
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') quoted->append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    quoted->push_back(c);
  }
  quoted->append(backslashes, L'\\');  // so the closing quote stays a quote
  quoted->push_back(L'"');
  return true;
}

}  // namespace uippack::platform
