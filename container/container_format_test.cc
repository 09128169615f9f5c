#include "container/container_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace uippack {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Header = ContainerHeader;

Bytes RandomBytes(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  std::generate(bytes.begin(), bytes.end(), std::mt19937(seed));
  return bytes;
}

Bytes Encode(const Bytes& archive, std::uint32_t factor) {
  Bytes image(kContainerHeaderSize + archive.size());
  std::copy(archive.begin(), archive.end(), image.begin() + kContainerHeaderSize);
  EncodeContainerImage(image.data(), static_cast<std::uint32_t>(archive.size()), factor);
  return image;
}

Bytes Decode(Bytes image) {
  ArchiveSpan span;
  EXPECT_TRUE(DecodeContainerImage(image.data(), image.size(), &span));
  EXPECT_LE(span.offset + span.length, image.size());
  return Bytes(image.data() + span.offset, image.data() + span.offset + span.length);
}

// One header field rewritten, the checksum left as it was.
Bytes Forge(Bytes image, std::uint32_t Header::*field, std::uint32_t value) {
  Header header = LoadContainerHeader(image.data());
  header.*field = value;
  StoreContainerHeader(header, image.data());
  return image;
}

TEST(ContainerFormat, PublishedMaskKeyAndChecksumValues) {
  const std::uint8_t mask[32] = {0xBE, 0x66, 0xE2, 0x32, 0x56, 0x4E, 0x1A, 0xBA, 0x2E, 0x76, 0x92,
                                 0x82, 0x46, 0xDE, 0x4A, 0x8A, 0x9E, 0x86, 0x42, 0xD2, 0x36, 0x6E,
                                 0x7A, 0x5A, 0x0E, 0x96, 0xF2, 0x22, 0x26, 0xFE, 0xAA, 0x2A};
  for (std::size_t k = 0; k < 32; ++k) EXPECT_EQ(HeaderMaskByte(k), mask[k]) << k;

  // Blocks 0 to 7 for the factors 1, 2, 3 and 15.
  const std::uint32_t factors[] = {1, 2, 3, 15};
  const std::uint8_t keys[4][8] = {{0x04, 0x09, 0x10, 0x19, 0x24, 0x31, 0x40, 0x51},
                                   {0x0A, 0x14, 0x22, 0x34, 0x4A, 0x64, 0x82, 0xA4},
                                   {0x12, 0x21, 0x36, 0x51, 0x72, 0x99, 0xC6, 0xF9},
                                   {0x0E, 0x59, 0xC2, 0x49, 0xEE, 0xB1, 0x92, 0x91}};
  for (std::uint32_t i = 0; i < 32; ++i)
    EXPECT_EQ(BlockKeyByte(i % 8, factors[i / 8]), keys[i / 8][i % 8]) << i;

  EXPECT_EQ(PayloadChecksum(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0xCBF43926u);
}

// Covers the empty archive, a block exactly full and one byte over, and block 256 of a 70001
// byte archive with factor 1 (it must take the key of block 0).
TEST(ContainerFormat, EveryFactorKeysEachByteByItsBlockAndRoundTrips) {
  for (std::uint32_t f = 1; f <= 15; ++f) {
    const std::uint32_t blockSize = f * 256;
    for (std::uint32_t size : {0u, 9u, blockSize - 1, blockSize, blockSize + 1, 70001u}) {
      const Bytes archive = RandomBytes(size, f * 100000 + size), image = Encode(archive, f);
      const Header h = LoadContainerHeader(image.data());
      // Magic, dataOffset and checksum hold when the image verifies and decodes below; the
      // filler is pinned by the published container in container_operations_test.cc.
      EXPECT_EQ(std::tie(h.version, h.tag, h.payloadSize, h.blockSize, h.blockCount),
                std::tuple(1, kContainerTag, size, blockSize, (size + blockSize - 1) / blockSize));
      for (std::uint32_t j = 0; j < size; ++j)
        ASSERT_EQ(image[104 + j] ^ archive[j], BlockKeyByte(j / blockSize, f)) << f << "/" << j;
      ASSERT_TRUE(IsValidContainerImage(image.data(), image.size()));
      ASSERT_EQ(Decode(image), archive) << f << "/" << size;
    }
  }
}

// Verification reads the magic (its zero byte included) and the checksum of the payload, nothing
// else: version, tag and filler change neither the check nor the archive.
//
// Headers that break the writer's invariants (a forger need not even fix the checksum, which
// leaves the header out) decode what the file holds, never divide by zero and never leave the
// image: a blockSize below 256 has factor 0, whose keys are all 0, and a huge one is one block
// with factor 255; blockCount is not needed to decode in place; payloadSize is bounded by the
// file, or a prefix; dataOffset at or past the end gives nothing, inside the header the file
// from there.
TEST(ContainerFormat, VerificationAndDamagedHeaders) {
  const Bytes archive = RandomBytes(3000, 5), good = Encode(archive, 2);
  for (std::size_t k : {0, 5, 9, 104, 2000, 3103, 10, 11, 12, 18, 19, 31, 52, 103}) {
    Bytes changed = good;
    changed[k] ^= 0x5A;
    EXPECT_EQ(IsValidContainerImage(changed.data(), changed.size()), k >= 10 && k < 104) << k;
    EXPECT_TRUE(k >= 104 || Decode(changed) == archive) << k;
  }
  for (std::size_t size : {std::size_t{0}, std::size_t{103}, good.size() - 1})
    EXPECT_FALSE(IsValidContainerImage(good.data(), size)) << size;

  const Bytes stored(good.begin() + 104, good.end()), prefix(archive.begin(), archive.begin() + 10);
  Bytes wild = stored;
  for (auto& b : wild) b ^= BlockKeyByte(0, 255);
  const std::tuple<std::uint32_t Header::*, std::uint32_t, Bytes> rows[] = {
      {&Header::blockSize, 0, stored},     {&Header::blockSize, 255, stored},
      {&Header::blockSize, ~0u, wild},     {&Header::blockCount, 1, archive},
      {&Header::blockCount, ~0u, archive}, {&Header::payloadSize, ~0u, archive},
      {&Header::payloadSize, 10, prefix},  {&Header::dataOffset, 3104, {}},
      {&Header::dataOffset, ~0u, {}}};
  for (const auto& [field, value, expected] : rows)
    EXPECT_EQ(Decode(Forge(good, field, value)), expected) << value;
  EXPECT_EQ(Decode(Forge(good, &Header::dataOffset, 0)).size(), 3000u);
  ArchiveSpan span;
  EXPECT_FALSE(DecodeContainerImage(Bytes(good).data(), 103, &span));
}

}  // namespace
}  // namespace uippack
