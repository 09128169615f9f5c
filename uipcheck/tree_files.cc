#include "uipcheck/tree_files.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text.h"
#endif

namespace uipcheck {

std::string_view DescribeKind(EntryKind kind) {
  switch (kind) {
    case EntryKind::kFile:
      return "file";
    case EntryKind::kDirectory:
      return "directory";
    case EntryKind::kLink:
      return "symbolic link";
    case EntryKind::kOther:
      break;
  }
  return "special file";
}

namespace {

EntryKind KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::regular:
      return EntryKind::kFile;
    case fs::file_type::directory:
      return EntryKind::kDirectory;
    case fs::file_type::symlink:
      return EntryKind::kLink;
    default:
      return EntryKind::kOther;
  }
}

}  // namespace

bool ListDirectory(const fs::path& directory, std::vector<TreeEntry>* entries, std::string* error) {
  entries->clear();
  std::error_code code;
  fs::directory_iterator it(directory, code);
  for (; !code && it != fs::directory_iterator(); it.increment(code)) {
    TreeEntry entry;
    entry.path = it->path();
    entry.name = DisplayText(entry.path.filename());
    // The type the listing itself reports where the file system gives one (no stat call per
    // entry); a link is taken as a link, never as its target.
    std::error_code typeCode;
    if (it->is_symlink(typeCode)) {
      entry.kind = EntryKind::kLink;
    } else if (it->is_directory(typeCode)) {
      entry.kind = EntryKind::kDirectory;
    } else if (it->is_regular_file(typeCode)) {
      entry.kind = EntryKind::kFile;
    } else {
      entry.kind = EntryKind::kOther;
    }
    entries->push_back(std::move(entry));
  }
  if (code) {
    *error = code.message();
    return false;
  }
  std::sort(entries->begin(), entries->end(),
            [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
  return true;
}

bool EntryKindAt(const fs::path& path, EntryKind* kind) {
  std::error_code code;
  const fs::file_status status = fs::symlink_status(path, code);
  if (code || !fs::exists(status)) return false;
  *kind = KindOf(status.type());
  return true;
}

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(other.size_) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kClosed);
    size_ = other.size_;
  }
  return *this;
}

#ifdef _WIN32

std::string DisplayText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path PathFromArgument(const fs::path& argument) { return argument; }

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

bool StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

namespace {

std::string LastErrorText() { return "Windows error " + std::to_string(GetLastError()); }

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool InputFile::Open(const fs::path& path, std::string* error) {
  Close();
  // The reparse point itself, not its target: a link in a file's place is refused below.
  HANDLE handle = CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = LastErrorText();
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    *error = LastErrorText();
    Close();
    return false;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    *error = "not a regular file";
    Close();
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return true;
}

bool InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length, std::size_t* got,
                       std::string* error) {
  *got = 0;
  while (*got < length) {
    const std::uint64_t at = offset + *got;
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(at);
    position.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(length - *got, 1u << 30));
    if (!ReadFile(Handle(handle_), static_cast<char*>(buffer) + *got, asked, &read, &position)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      *error = LastErrorText();
      return false;
    }
    if (read == 0) break;
    *got += read;
  }
  return true;
}

void InputFile::Close() {
  if (handle_ != kClosed) CloseHandle(Handle(std::exchange(handle_, kClosed)));
}

#else

std::string DisplayText(const fs::path& path) { return path.string(); }

fs::path PathFromArgument(const fs::path& argument) {
  std::string text = argument.string();
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::wstring WideFromUtf8(std::string_view text) { return uippack::platform::NarrowToWide(text); }

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool InputFile::Open(const fs::path& path, std::string* error) {
  Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer. O_NOFOLLOW: a link is refused.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = errno == ELOOP ? "a symbolic link" : std::strerror(errno);
    return false;
  }
  handle_ = fd;
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    *error = std::strerror(errno);
    Close();
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = "not a regular file";
    Close();
    return false;
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length, std::size_t* got,
                       std::string* error) {
  *got = 0;
  while (*got < length) {
    const ssize_t n = ::pread(static_cast<int>(handle_), static_cast<char*>(buffer) + *got,
                              length - *got, static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    *got += static_cast<std::size_t>(n);
  }
  return true;
}

void InputFile::Close() {
  if (handle_ != kClosed) ::close(static_cast<int>(std::exchange(handle_, kClosed)));
}

#endif

}  // namespace uipcheck
