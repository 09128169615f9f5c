// A layout container as uipcheck reads it: header and checksum checked in one pass over the
// file, and the archive inside read back a chunk at a time through the core's block keys,
// never the whole image at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "container/container_format.h"
#include "uipcheck/byte_source.h"
#include "uipcheck/report.h"
#include "uipcheck/tree_files.h"

namespace uipcheck {

// The archive inside a container whose header is sound, unscrambled as it is read, from any
// offset. Reads of a whole cycle of block keys (256 blocks) keep the calls few.
class ContainerSource : public ByteSource {
 public:
  ContainerSource(InputFile& file, const uippack::ContainerHeader& header)
      : file_(file), header_(header) {}
  std::uint64_t Size() const override;
  std::size_t ChunkSize() const override { return 256 * std::size_t{header_.blockSize}; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length, std::size_t* got,
              std::string* error) override;

 private:
  InputFile& file_;
  uippack::ContainerHeader header_;
};

struct ContainerCheck {
  bool usable = false;  // header, length and checksum sound: the archive inside may be read
  uippack::ContainerHeader header;
};

// Checks one container: magic, the header's fields as a wrap writes them, its length and its
// checksum; when archive is given, also that the container wraps exactly that archive's bytes.
// Differences go to report under display.
ContainerCheck CheckContainer(InputFile& container, const std::string& display, InputFile* archive,
                              const std::string& archiveDisplay, Findings& report);

}  // namespace uipcheck
