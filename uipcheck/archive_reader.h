// ZIP archives read entry by entry with libarchive, from any source of bytes: a file as it
// lies, or the archive inside a container, unscrambled as it is read. Entry data is handed
// out block by block, so memory stays small whatever the archive's size.
#pragma once

#include <archive.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "uipcheck/tree_files.h"

namespace uipcheck {

// Random access to an archive's bytes. Reads start at multiples of ChunkSize() and ask for at
// most ChunkSize() bytes, which lets a container source unscramble whole key cycles.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  virtual std::size_t ChunkSize() const = 0;
  // Fills buffer with the length bytes at offset, fewer only where the source ends.
  virtual bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length,
                      std::size_t* got, std::string* error) = 0;
};

// An archive file as it lies on disk.
class FileSource : public ByteSource {
 public:
  explicit FileSource(InputFile& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  std::size_t ChunkSize() const override { return 512 * 1024; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length, std::size_t* got,
              std::string* error) override {
    return file_.ReadAt(offset, buffer, length, got, error);
  }

 private:
  InputFile& file_;
};

struct ArchiveEntry {
  std::string name;  // UTF-8, '/' between levels, without a directory's trailing '/'
  bool isDirectory = false;
  bool isFile = false;    // neither: a link or a special entry
  bool isStored = false;  // kept without compression
  std::string method;     // as the library names the entry's format and method
};

class ArchiveReader {
 public:
  // chunk: the buffer reads go to, kept by the caller from archive to archive so that each
  // archive does not take (and have the system clear) fresh memory.
  ArchiveReader(ByteSource& source, std::vector<std::uint8_t>& chunk);
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // False with *error set when the bytes are not a readable ZIP archive.
  bool Open(std::string* error);

  enum class Step {
    kEntry,     // *entry describes the next entry
    kEnd,       // no more entries
    kBadEntry,  // this entry cannot be read (error()), the next may
    kFatal,     // the archive cannot be read further (error())
  };
  Step Next(ArchiveEntry* entry);

  // Streams the current entry's data to sink, block by block, in order. False with *error set
  // when the data is damaged (a bad CRC, a truncated archive).
  bool ReadData(const std::function<void(const std::uint8_t*, std::size_t)>& sink,
                std::string* error);

  std::string error() const;

 private:
  struct Deleter {
    void operator()(archive* handle) const { archive_read_free(handle); }
  };

  static la_ssize_t ReadCallback(archive* handle, void* self, const void** buffer);
  static la_int64_t SeekCallback(archive* handle, void* self, la_int64_t offset, int whence);
  static la_int64_t SkipCallback(archive* handle, void* self, la_int64_t request);

  ByteSource& source_;
  std::unique_ptr<archive, Deleter> archive_;
  std::vector<std::uint8_t>& chunk_;
  std::uint64_t chunkStart_ = 0;
  std::size_t chunkLength_ = 0;
  bool chunkValid_ = false;
  std::uint64_t position_ = 0;
};

}  // namespace uipcheck
