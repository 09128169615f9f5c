// The file system as uipcheck reads it. Nothing here writes: listings report links as links
// and never follow them, and a file is opened only once it is known to be a regular file, so
// a link, a FIFO or a device in a file's place is reported instead of followed or waited on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace uipcheck {

namespace fs = std::filesystem;

enum class EntryKind { kFile, kDirectory, kLink, kOther };

// "file", "directory", "symbolic link" or "special file".
std::string_view DescribeKind(EntryKind kind);

// Neither is ever followed or opened.
inline bool IsLinkOrSpecial(EntryKind kind) {
  return kind == EntryKind::kLink || kind == EntryKind::kOther;
}

struct TreeEntry {
  std::string name;  // UTF-8, as the listing spells it
  fs::path path;
  EntryKind kind = EntryKind::kOther;
};

// The entries of a directory, sorted by name so that reports come out in a stable order.
// False with *error set when the directory cannot be listed.
bool ListDirectory(const fs::path& directory, std::vector<TreeEntry>* entries, std::string* error);

// What lies at path without following a link there; false when nothing does.
bool EntryKindAt(const fs::path& path, EntryKind* kind);

// A path or name for messages: UTF-8 on Windows, the bytes as they are on POSIX.
std::string DisplayText(const fs::path& path);
// A command-line argument as a path, with either separator accepted as uippack accepts it.
fs::path PathFromArgument(const fs::path& argument);
// UTF-8 text for the console seam of the core.
std::wstring WideFromUtf8(std::string_view text);

// True when standard error is a terminal (the progress line goes there only then).
bool StandardErrorIsTerminal();

// A regular file open for reading, closed on destruction. Reads do not move a shared file
// position, so one file can be read at several places.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False with *error set when the path cannot be opened or is not a regular file.
  bool Open(const fs::path& path, std::string* error);
  bool IsOpen() const { return handle_ != kClosed; }
  std::uint64_t Size() const { return size_; }
  // Reads length bytes at offset, fewer only where the file ends. False with *error set on a
  // read error.
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length, std::size_t* got,
              std::string* error);
  void Close();

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
  std::uint64_t size_ = 0;
};

}  // namespace uipcheck
