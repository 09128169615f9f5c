// The .uip container in memory: header layout, header mask, block keys, and the encoding and
// decoding of a whole container image. No I/O here; container_operations.cc moves the bytes.
//
// A container is a masked 104-byte header followed by the stored payload: the archive bytes,
// each XORed with the key of its block, protected by a CRC-32 of the stored bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace uippack {

inline constexpr std::size_t kContainerHeaderSize = 104;
// The reading side takes a file's length from 32 bits, so no file may reach 4 GiB.
inline constexpr std::uint64_t kMaxContainerFileSize = 0xFFFFFFFFu;
inline constexpr std::uint64_t kMaxArchiveSize = kMaxContainerFileSize - kContainerHeaderSize;

inline constexpr std::array<std::uint8_t, 10> kContainerMagic = {'Q', 'M', 'A', 'R', 'C',
                                                                 'H', 'I', 'V', 'E', 0};
inline constexpr std::array<std::uint8_t, 7> kContainerTag = {'b', 'r', 'i', 'v', 'e', 't', 0};

// The header's fields, unmasked. Bytes no field covers are spaces on disk and are not kept.
struct ContainerHeader {
  std::array<std::uint8_t, 10> magic{};  // offset 0
  std::uint16_t version = 0;             // offset 10
  std::array<std::uint8_t, 7> tag{};     // offset 12
  std::uint32_t dataOffset = 0;          // offset 32
  std::uint32_t payloadSize = 0;         // offset 36
  std::uint32_t checksum = 0;            // offset 40
  std::uint32_t blockCount = 0;          // offset 44
  std::uint32_t blockSize = 0;           // offset 48
};

// Header byte k is stored XORed with this. Byte arithmetic: only the low 8 bits count.
constexpr std::uint8_t HeaderMaskByte(std::size_t k) {
  const auto n = static_cast<std::uint8_t>(k + 1);
  return static_cast<std::uint8_t>((n * n + k + 2) * 234u);
}

// Key of block b for factor f; the block number enters modulo 256.
constexpr std::uint8_t BlockKeyByte(std::uint32_t b, std::uint32_t f) {
  return static_cast<std::uint8_t>(((b + 1) * (b + 3) + f) * f);
}

// The factor a reader takes from blockSize; 0 for sizes below 256, which makes every key 0.
constexpr std::uint32_t BlockFactorOf(std::uint32_t blockSize) { return (blockSize / 256) % 256; }

// A wrap draws its block factor from 1 to this.
inline constexpr std::uint32_t kMostBlockFactor = 15;

// The header a wrap writes for payloadSize archive bytes and factor f (1..15), checksum 0.
ContainerHeader MakeContainerHeader(std::uint32_t payloadSize, std::uint32_t blockFactor);

// Writes the 104 masked header bytes to out.
void StoreContainerHeader(const ContainerHeader& header, std::uint8_t* out);
// Unmasks 104 header bytes from in.
ContainerHeader LoadContainerHeader(const std::uint8_t* in);

// XORs every byte with the key of its block. Its own inverse, so it both scrambles and
// unscrambles. Any blockSize is safe, 0 included (a factor of 0 leaves the bytes as they are).
void ScrambleBlocks(std::uint8_t* data, std::size_t size, std::uint32_t blockSize);
// The same for size bytes that lie at offset in the payload, for a payload read in parts.
void ScrambleBlocksAt(std::uint8_t* data, std::size_t size, std::uint32_t blockSize,
                      std::uint64_t offset);

// CRC-32 of the stored payload, zlib's crc32 from 0. size must stay below 4 GiB.
std::uint32_t PayloadChecksum(const std::uint8_t* data, std::size_t size);
// The checksum of what came before (running) followed by data, for a payload read in parts.
std::uint32_t ContinueChecksum(std::uint32_t running, const std::uint8_t* data, std::size_t size);

// Turns image[104 .. 104 + payloadSize) from archive bytes into a complete container, in place.
// The caller guarantees payloadSize <= kMaxArchiveSize.
void EncodeContainerImage(std::uint8_t* image, std::uint32_t payloadSize,
                          std::uint32_t blockFactor);

// True when the image holds a whole header with the right magic and the checksum of the bytes
// from dataOffset to the end matches. Nothing else in the header is examined.
bool IsValidContainerImage(const std::uint8_t* image, std::size_t size);

// Where the decoded archive lies inside an image after DecodeContainerImage.
struct ArchiveSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};

// Unscrambles the archive bytes in place and says where they are. False only when the image
// holds no whole header. See the .cc for how damaged headers are read.
bool DecodeContainerImage(std::uint8_t* image, std::size_t size, ArchiveSpan* archive);

// The factor of a new container: rand() seeded with the current time, drawn % 16 until it is
// not 0.
std::uint32_t DrawBlockFactor();

}  // namespace uippack
