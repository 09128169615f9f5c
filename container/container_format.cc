#include "container/container_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace uippack {
namespace {

// Field offsets inside the 104-byte header.
constexpr std::size_t kMagicAt = 0;
constexpr std::size_t kVersionAt = 10;
constexpr std::size_t kTagAt = 12;
constexpr std::size_t kDataOffsetAt = 32;
constexpr std::size_t kPayloadSizeAt = 36;
constexpr std::size_t kChecksumAt = 40;
constexpr std::size_t kBlockCountAt = 44;
constexpr std::size_t kBlockSizeAt = 48;

constexpr std::uint8_t kFiller = 0x20;

void PutLittle32(std::uint8_t* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLittle32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
         static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void MaskHeader(std::uint8_t* bytes) {
  for (std::size_t k = 0; k < kContainerHeaderSize; ++k) bytes[k] ^= HeaderMaskByte(k);
}

// One key over a run of bytes, eight at a time. memcpy keeps the word access legal at any
// alignment; the compiler turns it into plain loads and stores (and vectorises the loop).
void XorWithKey(std::uint8_t* data, std::size_t size, std::uint8_t key) {
  const std::uint64_t wide = key * 0x0101010101010101ull;
  std::size_t at = 0;
  for (; at + 8 <= size; at += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + at, 8);
    word ^= wide;
    std::memcpy(data + at, &word, 8);
  }
  for (; at < size; ++at) data[at] ^= key;
}

}  // namespace

ContainerHeader MakeContainerHeader(std::uint32_t payloadSize, std::uint32_t blockFactor) {
  ContainerHeader header;
  header.magic = kContainerMagic;
  header.version = 1;
  header.tag = kContainerTag;
  header.dataOffset = static_cast<std::uint32_t>(kContainerHeaderSize);
  header.payloadSize = payloadSize;
  header.checksum = 0;
  header.blockSize = blockFactor * 256;
  header.blockCount = payloadSize / header.blockSize + (payloadSize % header.blockSize != 0);
  return header;
}

void StoreContainerHeader(const ContainerHeader& header, std::uint8_t* out) {
  std::memset(out, kFiller, kContainerHeaderSize);
  std::memcpy(out + kMagicAt, header.magic.data(), header.magic.size());
  out[kVersionAt] = static_cast<std::uint8_t>(header.version);
  out[kVersionAt + 1] = static_cast<std::uint8_t>(header.version >> 8);
  std::memcpy(out + kTagAt, header.tag.data(), header.tag.size());
  PutLittle32(out + kDataOffsetAt, header.dataOffset);
  PutLittle32(out + kPayloadSizeAt, header.payloadSize);
  PutLittle32(out + kChecksumAt, header.checksum);
  PutLittle32(out + kBlockCountAt, header.blockCount);
  PutLittle32(out + kBlockSizeAt, header.blockSize);
  MaskHeader(out);
}

ContainerHeader LoadContainerHeader(const std::uint8_t* in) {
  std::uint8_t plain[kContainerHeaderSize];
  std::memcpy(plain, in, kContainerHeaderSize);
  MaskHeader(plain);
  ContainerHeader header;
  std::memcpy(header.magic.data(), plain + kMagicAt, header.magic.size());
  header.version = static_cast<std::uint16_t>(plain[kVersionAt] | plain[kVersionAt + 1] << 8);
  std::memcpy(header.tag.data(), plain + kTagAt, header.tag.size());
  header.dataOffset = GetLittle32(plain + kDataOffsetAt);
  header.payloadSize = GetLittle32(plain + kPayloadSizeAt);
  header.checksum = GetLittle32(plain + kChecksumAt);
  header.blockCount = GetLittle32(plain + kBlockCountAt);
  header.blockSize = GetLittle32(plain + kBlockSizeAt);
  return header;
}

void ScrambleBlocks(std::uint8_t* data, std::size_t size, std::uint32_t blockSize) {
  ScrambleBlocksAt(data, size, blockSize, 0);
}

void ScrambleBlocksAt(std::uint8_t* data, std::size_t size, std::uint32_t blockSize,
                      std::uint64_t offset) {
  const std::uint32_t factor = BlockFactorOf(blockSize);
  // Below 256 bytes a block has factor 0, and every key of factor 0 is 0 whatever the block
  // number: nothing to do, and no division by a zero blockSize.
  if (factor == 0) return;
  for (std::size_t done = 0; done < size;) {
    const std::uint64_t at = offset + done;
    const auto span =
        static_cast<std::size_t>(std::min<std::uint64_t>(size - done, blockSize - at % blockSize));
    XorWithKey(data + done, span, BlockKeyByte(static_cast<std::uint32_t>(at / blockSize), factor));
    done += span;
  }
}

std::uint32_t PayloadChecksum(const std::uint8_t* data, std::size_t size) {
  return ContinueChecksum(0, data, size);
}

std::uint32_t ContinueChecksum(std::uint32_t running, const std::uint8_t* data, std::size_t size) {
  // crc32 takes a 32-bit length; every real payload fits one call.
  constexpr std::size_t kMostPerCall = std::numeric_limits<uInt>::max();
  uLong crc = running;
  do {
    const std::size_t part = std::min(size, kMostPerCall);
    crc = crc32(crc, data, static_cast<uInt>(part));
    data += part;
    size -= part;
  } while (size > 0);
  return static_cast<std::uint32_t>(crc);
}

void EncodeContainerImage(std::uint8_t* image, std::uint32_t payloadSize,
                          std::uint32_t blockFactor) {
  ContainerHeader header = MakeContainerHeader(payloadSize, blockFactor);
  std::uint8_t* payload = image + kContainerHeaderSize;
  ScrambleBlocks(payload, payloadSize, header.blockSize);
  header.checksum = PayloadChecksum(payload, payloadSize);
  StoreContainerHeader(header, image);
}

bool IsValidContainerImage(const std::uint8_t* image, std::size_t size) {
  // A failed wrap can leave an empty or short file behind: no whole header, not a container.
  if (size < kContainerHeaderSize) return false;
  const ContainerHeader header = LoadContainerHeader(image);
  if (header.magic != kContainerMagic) return false;
  // From an offset at or past the end there are no bytes, whose checksum is 0.
  const std::size_t start = std::min<std::size_t>(header.dataOffset, size);
  return PayloadChecksum(image + start, size - start) == header.checksum;
}

// Damaged headers. The checksum leaves the header out, so a header can pass verification and
// still break what a wrap always writes. No such header is rejected; every field is taken as
// it comes and given a meaning that stays inside the file:
// - dataOffset: any value. The archive is the file from there on; at or past the end it is
//   empty, below 104 it starts inside the (masked) header bytes.
// - payloadSize: the archive is payloadSize bytes or what the file holds from dataOffset,
//   whichever is less; a size larger than the file yields what the file holds.
// - blockCount: not used. Decoding happens in place, so there is no output buffer to size and
//   blockCount x blockSize can neither overflow nor be too small; every byte the file holds
//   is decoded.
// - blockSize: used as given. Below 256 (0 included) the factor is 0 and every key is 0, so
//   the bytes come out unchanged and there is nothing to divide.
// A garbled blockSize yields a garbled archive, which the archiver rejects later.
bool DecodeContainerImage(std::uint8_t* image, std::size_t size, ArchiveSpan* archive) {
  if (size < kContainerHeaderSize) return false;
  const ContainerHeader header = LoadContainerHeader(image);
  archive->offset = std::min<std::size_t>(header.dataOffset, size);
  archive->length = std::min<std::size_t>(header.payloadSize, size - archive->offset);
  ScrambleBlocks(image + archive->offset, archive->length, header.blockSize);
  return true;
}

std::uint32_t DrawBlockFactor() {
  // Seeded at every draw, so wraps within the same second share their factor.
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  int factor;
  do {
    factor = std::rand() % static_cast<int>(kMostBlockFactor + 1);
  } while (factor == 0);
  return static_cast<std::uint32_t>(factor);
}

}  // namespace uippack
