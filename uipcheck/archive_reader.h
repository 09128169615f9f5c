// ZIP archives read entry by entry with libarchive's streaming reader, from any source of
// bytes: a file as it lies, or the archive inside a container, unscrambled as it is read. It
// reads the local entries front to back, as 7-Zip does when it extracts; ZipDirectory proves
// that they are the ones the central directory lists. Entry data is handed out block by block,
// so memory stays small whatever the archive's size.
#pragma once

#include <archive.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "uipcheck/byte_source.h"

namespace uipcheck {

struct ArchiveEntry {
  std::string name;  // UTF-8, '/' between levels, without a directory's trailing '/'
  bool isDirectory = false;
  bool isFile = false;         // neither: a link or a special entry
  std::string method;          // as the library names the entry's format and method
  std::uint64_t headerAt = 0;  // where the library found its local header
  std::string warning;         // what the library warned of while reading the header
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
    Entry,     // *entry describes the next entry
    End,       // no more entries
    BadEntry,  // this entry cannot be read (error()), the next may
    Fatal,     // the archive cannot be read further (error())
  };
  Step Next(ArchiveEntry* entry);

  // Streams the current entry's data to sink, block by block, in order. False with *error set
  // when the data is damaged (a bad CRC, a truncated archive) or the library warns of it.
  bool ReadData(const std::function<void(const std::uint8_t*, std::size_t)>& sink,
                std::string* error);

  std::string error() const;

 private:
  struct Deleter {
    void operator()(archive* handle) const { archive_read_free(handle); }
  };

  static la_ssize_t ReadCallback(archive* handle, void* self, const void** buffer);

  ByteSource& source_;
  std::unique_ptr<archive, Deleter> archive_;
  std::vector<std::uint8_t>& chunk_;
  std::uint64_t position_ = 0;  // where the next read starts
};

}  // namespace uipcheck
