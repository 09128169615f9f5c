// A ZIP archive's structure, read by us rather than by libarchive, so that the gate and
// 7-Zip cannot be shown two different archives in one file. The end record must close the
// file, the central directory must lie right before it, and the entries it lists must fill
// the file from its first byte up to the directory, in its order, each local header agreeing
// with its central one. Everything is read a window at a time: memory does not grow with the
// archive or its number of entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "uipcheck/byte_source.h"

namespace uipcheck {

// What the directory says of one entry, held against its local header.
struct ZipEntryInfo {
  // The name readers show: the UTF-8 of a Unicode path block where one names the entry, else
  // the bytes stored; a directory's trailing '/' removed.
  std::string name;
  std::string storedName;  // the bytes stored in the headers, the trailing '/' kept
  std::uint16_t method = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localOffset = 0;
};

// A fault in the archive's structure: the entry it lies in (empty for the archive as a
// whole), what the format wants there and what is there instead.
struct ZipFault {
  std::string entry;
  std::string expected;
  std::string found;
};

// Reads a source through a window of its bytes; the reads that come one after the other in
// the file cost one read of the source per window.
class WindowReader {
 public:
  WindowReader(ByteSource& source, std::size_t window) : source_(source), buffer_(window) {}
  // Exactly length bytes at offset into out; false with *error set when the source holds
  // fewer or cannot be read.
  bool Read(std::uint64_t offset, std::size_t length, std::uint8_t* out, std::string* error);
  bool Read(std::uint64_t offset, std::size_t length, std::string* out, std::string* error);

 private:
  ByteSource& source_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

class ZipDirectory {
 public:
  // window: how much of the central directory one read brings in. Local headers are read
  // through a window of their own, about one header long, since the entries' data lies
  // between them.
  explicit ZipDirectory(ByteSource& source, std::size_t window = 64 * 1024,
                        std::size_t localWindow = 512);

  // Finds the end record and the central directory; false with *fault set when they are not
  // where the format puts them.
  bool Open(ZipFault* fault);

  enum class Step { Entry, End, Fault };
  // The next entry of the central directory, in its order. End once all are read and nothing
  // lies between the last entry and the directory, or after the directory's last entry.
  Step Next(ZipEntryInfo* entry, ZipFault* fault);

  std::uint64_t EntryCount() const { return entries_; }

 private:
  bool ReadEnd(ZipFault* fault);
  std::string DescribeTail();
  bool DirectoryEndsAt(std::uint64_t directorySize, const std::string& record, ZipFault* fault);
  bool ReadZip64End(std::uint64_t endAt, bool* found, ZipFault* fault);
  bool ReadCentral(ZipEntryInfo* entry, std::uint16_t* flags, ZipFault* fault);
  struct LocalHeader {
    std::string name;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    bool zip64 = false;  // it has a ZIP64 block, so a data descriptor has 8-byte sizes
    std::uint64_t dataStart = 0;
  };
  bool HoldAgainstLocal(const ZipEntryInfo& entry, std::uint16_t flags, ZipFault* fault);
  bool ReadLocal(const ZipEntryInfo& entry, LocalHeader* local, ZipFault* fault);
  bool CheckDescriptor(const ZipEntryInfo& entry, std::uint64_t at, bool wide,
                       std::uint64_t* length, ZipFault* fault);

  ByteSource& source_;
  WindowReader central_;
  WindowReader local_;
  std::uint64_t size_ = 0;
  std::uint64_t entries_ = 0;
  std::uint64_t directoryStart_ = 0;
  std::uint64_t directoryEnd_ = 0;  // where the end records begin
  std::uint64_t read_ = 0;          // central entries read so far
  std::uint64_t cursor_ = 0;        // the next central entry
  std::uint64_t nextLocal_ = 0;     // where the next local entry must start
};

// Empty when name, as an archive entry's name, stays inside the directory it is extracted
// into and shows as it is; else what is wrong with it.
std::string UnsafeEntryName(std::string_view name);

}  // namespace uipcheck
