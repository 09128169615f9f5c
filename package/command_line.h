// Command lines for the external tools, formatted into buffers of fixed size.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace uippack {

// One "%s" argument of a command template.
struct CommandArgument {
  enum class Kind {
    ToolDirectory,  // goes inside the template's own quotes, unchanged
    Path,           // made absolute and quoted where it needs to be
    ArchiverPath,   // a Path that 7-Zip reads, where * and ? would be wildcards
  };
  Kind kind;
  std::wstring_view text;
};

inline CommandArgument ToolDirectoryArgument(std::wstring_view text) {
  return {CommandArgument::Kind::ToolDirectory, text};
}
inline CommandArgument PathArgument(std::wstring_view text) {
  return {CommandArgument::Kind::Path, text};
}
inline CommandArgument ArchiverPathArgument(std::wstring_view text) {
  return {CommandArgument::Kind::ArchiverPath, text};
}

// A command line formatted from a template into a buffer of `capacity` characters, the
// terminating zero included. It may be started only when it fits and every argument could be
// put in safely; otherwise starting it is a start failure, and text() still shows the whole
// line for the failure message.
class CommandBuffer {
 public:
  static constexpr std::size_t kCopyCapacity = 1024;
  static constexpr std::size_t kToolCapacity = 512;

  CommandBuffer(std::wstring_view commandTemplate, std::initializer_list<CommandArgument> arguments,
                std::size_t capacity = kToolCapacity);

  const std::wstring& text() const { return text_; }
  bool startable() const { return startable_; }

 private:
  std::wstring text_;
  bool startable_ = true;
};

// How a path enters a command line: as the platform quotes one argument, and refused when the
// archiver would read * or ? in it as a wildcard, but for its pattern's own final "*".
bool QuotePathForCommandLine(std::wstring_view path, bool readByArchiver, std::wstring* quoted);

}  // namespace uippack
