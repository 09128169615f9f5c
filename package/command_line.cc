#include "package/command_line.h"

#include "platform/path.h"
#include "platform/process.h"

namespace uippack {

bool QuotePathForCommandLine(std::wstring_view path, bool readByArchiver, std::wstring* quoted) {
  // Only the archiver pattern's own final "*" may be a wildcard; 7-Zip expands * and ? itself.
  const bool endsInWildcard = readByArchiver && path.size() >= 2 && path.back() == L'*' &&
                              path[path.size() - 2] == platform::kPathSeparator;
  if (readByArchiver &&
      path.substr(0, path.size() - (endsInWildcard ? 1 : 0)).find_first_of(L"*?") !=
          std::wstring_view::npos) {
    return false;
  }
  return platform::QuoteCommandArgument(path, endsInWildcard, quoted);
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
