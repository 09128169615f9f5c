// Whole-file I/O for archives and containers, and the buffers that hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/handle.h"

namespace uippack::platform {

// A file held exclusively: while it is open no other opener, in this process or another, may
// open it (Win32 share mode 0; on POSIX an exclusive advisory lock taken without waiting).
// Only a regular file is opened, never through a link, and never waiting on a FIFO.
class ExclusiveFile {
 public:
  ExclusiveFile() = default;
  ~ExclusiveFile() = default;
  ExclusiveFile(ExclusiveFile&& other) noexcept = default;
  ExclusiveFile& operator=(ExclusiveFile&& other) noexcept = default;
  ExclusiveFile(const ExclusiveFile&) = delete;
  ExclusiveFile& operator=(const ExclusiveFile&) = delete;

  // An existing file, for reading.
  static ExclusiveFile OpenForReading(const std::wstring& path);
  // A new or emptied file, for writing (an existing file is replaced).
  static ExclusiveFile CreateForWriting(const std::wstring& path);

  bool IsOpen() const { return handle_.IsOpen(); }
  // The file's full length in bytes; false when it is not open or cannot be examined.
  bool GetSize(std::uint64_t* size) const;
  // Reads length bytes from the current position into buffer.
  bool Read(void* buffer, std::size_t length);
  // Writes length bytes at the current position; false when the file is not open.
  bool Write(const void* data, std::size_t length);
  // Forces written data to the device (FlushFileBuffers, fsync).
  bool Flush();
  // Moves back to the file's first byte.
  bool Rewind();
  void Close() { handle_.Close(); }

 private:
  OwnedHandle handle_;
};

// A regular file open for reading alone, shared with every other opener, as a checker reads a
// tree it must not disturb: never through a link and never waiting on a FIFO. Each read names
// its offset, so several threads may read one file at once.
class ReadOnlyFile {
 public:
  // False, with the reason in *error, when path cannot be opened or is not a regular file.
  bool Open(const std::wstring& path, std::string* error);
  bool IsOpen() const { return handle_.IsOpen(); }
  // The file's length when it was opened.
  std::uint64_t Size() const { return size_; }
  // Reads up to length bytes at offset, of the file as it was opened: *got is less only where
  // it ended then. False, with the reason in *error, on a read error or when it has shrunk.
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length, std::size_t* got,
              std::string* error) const;
  void Close() { handle_.Close(); }

 private:
  OwnedHandle handle_;
  std::uint64_t size_ = 0;
};

bool DeleteFileAt(const std::wstring& path);
// Gives the file at `from` the name `to` in the same file system; false, changing nothing, when
// anything stands at `to` already.
bool MoveFileExclusive(const std::wstring& from, const std::wstring& to);

// Memory for a whole archive or container image, released on destruction. Large buffers get
// the system's large pages where it offers them: an image is touched once from end to end,
// and page faults, not copying, would otherwise dominate. Data() is null when the memory
// cannot be had; a size of 0 still gives a usable pointer.
class FileBuffer {
 public:
  explicit FileBuffer(std::size_t size);
  ~FileBuffer();
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;

  std::uint8_t* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t reserved_ = 0;  // what the system handed out, for the release
};

}  // namespace uippack::platform
