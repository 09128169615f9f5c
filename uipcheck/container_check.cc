#include "uipcheck/container_check.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace uipcheck {
namespace {

using uippack::kContainerHeaderSize;

// Where the stored bytes lie: from dataOffset to the end of the file.
std::uint64_t StoredLength(std::uint64_t fileSize, const uippack::ContainerHeader& header) {
  return fileSize - std::min<std::uint64_t>(fileSize, header.dataOffset);
}

// How a container's length stands to what its header declares, for a user who has to find
// out what cut it short or what was appended.
std::string LengthNote(std::uint64_t fileSize, std::uint64_t declared) {
  if (fileSize < declared) {
    return "; the file is " + Bytes(declared - fileSize) + " shorter than its header says (" +
           Bytes(declared) + ")";
  }
  if (fileSize > declared) {
    return "; the file is " + Bytes(fileSize - declared) + " longer than its header says (" +
           Bytes(declared) + ")";
  }
  return "";
}

}  // namespace

std::uint64_t ContainerSource::Size() const {
  return std::min<std::uint64_t>(header_.payloadSize, StoredLength(file_.Size(), header_));
}

bool ContainerSource::ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length,
                             std::size_t* got, std::string* error) {
  const std::uint64_t size = Size();
  length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - std::min(offset, size)));
  if (!file_.ReadAt(header_.dataOffset + offset, buffer, length, got, error)) return false;
  uippack::ScrambleBlocksAt(buffer, *got, header_.blockSize, offset);
  return true;
}

namespace {

// The fields a wrap always writes, held against the header the core's wrap makes for this
// payload; the reading side would take any of them as they come. True when the blocks are
// sound enough to unscramble the payload.
bool CheckHeaderFields(const uippack::ContainerHeader& header, const std::string& display,
                       Findings& report) {
  const std::uint32_t factor = uippack::BlockFactorOf(header.blockSize);
  // A factor a wrap draws, and the very size it gives: the factor wraps round every 256 steps.
  const bool drawn = factor >= 1 && factor <= uippack::kMostBlockFactor;
  const uippack::ContainerHeader made =
      uippack::MakeContainerHeader(header.payloadSize, drawn ? factor : 1);
  const bool blocksSound = drawn && header.blockSize == made.blockSize;
  if (header.version != made.version || header.tag != made.tag) {
    report.Difference(display, "the version and tag a wrap writes", "others in the header");
  }
  if (header.dataOffset != made.dataOffset) {
    report.Difference(display, "the archive at offset 104",
                      "offset " + std::to_string(header.dataOffset) + " in the header");
  }
  if (!blocksSound) {
    report.Difference(display, "a block size of 256 to 3840 in steps of 256",
                      "block size " + std::to_string(header.blockSize) + " in the header");
    return false;
  }
  if (header.blockCount != made.blockCount) {
    report.Difference(display,
                      std::to_string(made.blockCount) + " blocks for " + Bytes(header.payloadSize),
                      std::to_string(header.blockCount) + " in the header");
  }
  return true;
}

// One pass over the stored bytes: their checksum, and where an archive lies beside the
// container (compare), the unscrambled bytes against it.
struct StoredPass {
  bool read = false;  // false: a read failed, and was reported
  std::uint32_t crc = 0;
  bool differs = false;
  std::uint64_t firstDifference = 0;
};

StoredPass PassOverStored(InputFile& container, const uippack::ContainerHeader& header,
                          const std::string& display, InputFile* archive,
                          const std::string& archiveDisplay, bool blocksSound, Findings& report) {
  const std::uint64_t stored = StoredLength(container.Size(), header);
  const std::uint64_t payload = std::min<std::uint64_t>(header.payloadSize, stored);
  const bool compare = archive != nullptr && blocksSound;
  const std::size_t chunk = blocksSound ? 256 * std::size_t{header.blockSize} : 1 << 20;
  std::vector<std::uint8_t> bytes(chunk);
  std::vector<std::uint8_t> theirs(compare ? chunk : 0);
  StoredPass pass;
  pass.firstDifference = compare ? std::min(payload, archive->Size()) : 0;
  pass.differs = compare && payload != archive->Size();
  std::size_t got = 0;
  std::string error;
  for (std::uint64_t at = 0; at < stored; at += chunk) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, stored - at));
    if (!container.ReadAt(header.dataOffset + at, bytes.data(), length, &got, &error)) {
      report.Unreadable(display, error);
      return pass;
    }
    pass.crc = uippack::ContinueChecksum(pass.crc, bytes.data(), length);
    report.Advance(length);
    // The first difference lies at the payload's end at the latest.
    if (!compare || at >= pass.firstDifference) continue;
    const auto decoded = static_cast<std::size_t>(std::min<std::uint64_t>(length, payload - at));
    uippack::ScrambleBlocks(bytes.data(), decoded, header.blockSize);
    if (!archive->ReadAt(at, theirs.data(), decoded, &got, &error)) {
      report.Unreadable(archiveDisplay, error);
      return pass;
    }
    const std::size_t common = std::min(decoded, got);
    const auto mismatch = std::mismatch(bytes.begin(), bytes.begin() + common, theirs.begin());
    // An archive shorter than the payload differs already, from the first byte it lacks on.
    if (mismatch.first != bytes.begin() + common) {
      pass.firstDifference = at + static_cast<std::uint64_t>(mismatch.first - bytes.begin());
      pass.differs = true;
    }
  }
  pass.read = true;
  return pass;
}

// The header, unmasked; false once reported when the file holds none or not a container's.
bool ReadHeader(InputFile& container, const std::string& display, uippack::ContainerHeader* header,
                Findings& report) {
  const std::uint64_t fileSize = container.Size();
  if (fileSize < kContainerHeaderSize) {
    report.Difference(
        display, "a container (a 104-byte header, then the archive)",
        fileSize == 0 ? "an empty file" : Bytes(fileSize) + ", shorter than the header");
    return false;
  }
  std::uint8_t raw[kContainerHeaderSize];
  std::size_t got = 0;
  std::string error;
  if (!container.ReadAt(0, raw, sizeof raw, &got, &error)) {
    report.Unreadable(display, error);
    return false;
  }
  *header = uippack::LoadContainerHeader(raw);
  if (header->magic != uippack::kContainerMagic) {
    report.Difference(display, "a container (the magic QMARCHIVE)", "other bytes");
    return false;
  }
  return true;
}

// The stored bytes against the header's checksum and length; true when they hold.
bool StoredMatchesHeader(const uippack::ContainerHeader& header, std::uint64_t fileSize,
                         std::uint32_t crc, const std::string& display, Findings& report) {
  const std::uint64_t declaredSize = std::uint64_t{header.dataOffset} + header.payloadSize;
  if (crc != header.checksum) {
    report.Difference(display, "the checksum " + Hex32(header.checksum) + " its header declares",
                      Hex32(crc) + " over its " + Bytes(StoredLength(fileSize, header)) +
                          " of stored data" + LengthNote(fileSize, declaredSize));
    return false;
  }
  if (fileSize != declaredSize) {
    report.Difference(display, Bytes(declaredSize) + " as its header says", Bytes(fileSize));
    return false;
  }
  return true;
}

}  // namespace

ContainerCheck CheckContainer(InputFile& container, const std::string& display, InputFile* archive,
                              const std::string& archiveDisplay, Findings& report) {
  ContainerCheck result;
  if (!ReadHeader(container, display, &result.header, report)) return result;
  const uippack::ContainerHeader& header = result.header;
  const bool blocksSound = CheckHeaderFields(header, display, report);
  const StoredPass pass =
      PassOverStored(container, header, display, archive, archiveDisplay, blocksSound, report);
  if (!pass.read) return result;
  const std::uint64_t fileSize = container.Size();
  result.usable = StoredMatchesHeader(header, fileSize, pass.crc, display, report) && blocksSound &&
                  header.dataOffset == kContainerHeaderSize;
  if (result.usable && pass.differs) {
    report.Difference(
        display, "the wrap of " + archiveDisplay + " (" + Bytes(archive->Size()) + ")",
        "the wrap of other bytes (" +
            Bytes(std::min<std::uint64_t>(header.payloadSize, StoredLength(fileSize, header))) +
            ", the first difference at byte " + std::to_string(pass.firstDifference) + ")");
  }
  return result;
}

}  // namespace uipcheck
