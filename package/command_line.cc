#include "package/command_line.h"

#include "platform/path.h"

namespace uippack {
namespace {

// Characters no program's argument splitting treats specially. cmd.exe also splits at "," ";"
// and "=", so those are quoted too.
bool IsPlainCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
         c == L'/' || c == L'\\' || c == L':' || c == L'.' || c == L'_' || c == L'-' || c == L'+' ||
         c == L'~' || c == L'@' || c == L'*';
}

}  // namespace

bool QuotePathForCommandLine(std::wstring_view path, bool readByArchiver, std::wstring* quoted) {
  // Only the archiver pattern's own final "*" may be a wildcard.
  std::wstring_view body = path;
  if (readByArchiver && body.size() >= 2 && body.back() == L'*' &&
      body[body.size() - 2] == platform::kPathSeparator) {
    body.remove_suffix(1);
  }
#ifdef _WIN32
  // cmd.exe expands %NAME% even inside quotes, and a quote cannot be escaped for it at all. No
  // Windows name holds * or ?, but a name seen through Wine may, and del and rd would take them
  // as wildcards.
  if (body.find_first_of(L"%\"*?") != std::wstring_view::npos) return false;
#endif
  // 7-Zip expands * and ? itself.
  if (readByArchiver && body.find_first_of(L"*?") != std::wstring_view::npos) return false;
  bool plain = !path.empty();
  for (const wchar_t c : path) plain = plain && IsPlainCharacter(c);
  if (plain) {
    quoted->assign(path);
    return true;
  }
  quoted->assign(1, L'"');
  std::size_t backslashes = 0;
  for (const wchar_t c : path) {
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

CommandBuffer::CommandBuffer(std::wstring_view commandTemplate,
                             std::initializer_list<CommandArgument> arguments,
                             std::size_t capacity) {
  auto next = arguments.begin();
  for (std::size_t i = 0; i < commandTemplate.size(); ++i) {
    if (commandTemplate[i] != L'%' || i + 1 >= commandTemplate.size() ||
        commandTemplate[i + 1] != L's' || next == arguments.end()) {
      text_.push_back(commandTemplate[i]);
      continue;
    }
    ++i;
    const CommandArgument& argument = *next++;
    if (argument.kind == CommandArgument::Kind::ToolDirectory) {
      // Without a tool directory the line would name a program at the file system's root.
      if (argument.text.empty() || argument.text.find(L'"') != std::wstring_view::npos) {
        startable_ = false;
      }
      text_ += argument.text;
      continue;
    }
    // Absolute paths: the archiver then stores entries relative to the directory it archives,
    // and no relative path can begin with "-" and be read as a switch.
    const std::wstring absolute = platform::AbsolutePath(std::wstring(argument.text));
    std::wstring quoted;
    if (QuotePathForCommandLine(absolute, argument.kind == CommandArgument::Kind::ArchiverPath,
                                &quoted)) {
      text_ += quoted;
    } else {
      startable_ = false;
      text_ += absolute;
    }
  }
  if (text_.size() + 1 > capacity) startable_ = false;
}

}  // namespace uippack
