#include "container/container_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace uippack {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(engine());
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
  const auto begin = image.begin() + static_cast<std::ptrdiff_t>(span.offset);
  return Bytes(begin, begin + static_cast<std::ptrdiff_t>(span.length));
}

// Rewrites the header and fixes the checksum, as a forger would: the checksum leaves the
// header out, so the result still verifies (unless dataOffset points into the header).
Bytes Forge(Bytes image, void (*edit)(ContainerHeader*)) {
  ContainerHeader header = LoadContainerHeader(image.data());
  edit(&header);
  header.checksum =
      header.dataOffset < image.size()
          ? PayloadChecksum(image.data() + header.dataOffset, image.size() - header.dataOffset)
          : 0;
  StoreContainerHeader(header, image.data());
  return image;
}

TEST(ContainerFormat, PublishedMaskKeyAndChecksumValues) {
  const std::uint8_t mask[32] = {0xBE, 0x66, 0xE2, 0x32, 0x56, 0x4E, 0x1A, 0xBA, 0x2E, 0x76, 0x92,
                                 0x82, 0x46, 0xDE, 0x4A, 0x8A, 0x9E, 0x86, 0x42, 0xD2, 0x36, 0x6E,
                                 0x7A, 0x5A, 0x0E, 0x96, 0xF2, 0x22, 0x26, 0xFE, 0xAA, 0x2A};
  for (std::size_t k = 0; k < 32; ++k) EXPECT_EQ(HeaderMaskByte(k), mask[k]) << k;

  const std::pair<std::uint32_t, Bytes> keys[] = {
      {1, {0x04, 0x09, 0x10, 0x19, 0x24, 0x31, 0x40, 0x51}},
      {2, {0x0A, 0x14, 0x22, 0x34, 0x4A, 0x64, 0x82, 0xA4}},
      {3, {0x12, 0x21, 0x36, 0x51, 0x72, 0x99, 0xC6, 0xF9}},
      {15, {0x0E, 0x59, 0xC2, 0x49, 0xEE, 0xB1, 0x92, 0x91}}};
  for (const auto& [f, row] : keys) {
    for (std::uint32_t b = 0; b < 8; ++b) EXPECT_EQ(BlockKeyByte(b, f), row[b]) << f << "/" << b;
  }
  for (std::uint32_t b = 0; b < 256; ++b) EXPECT_EQ(BlockKeyByte(b + 256, 7), BlockKeyByte(b, 7));

  const std::string digits = "123456789";
  EXPECT_EQ(PayloadChecksum(reinterpret_cast<const std::uint8_t*>(digits.data()), 9), 0xCBF43926u);
}

// Covers the empty archive, a block exactly full and one byte over, and block 256 of a 70001
// byte archive with factor 1 (it must take the key of block 0).
TEST(ContainerFormat, EveryFactorKeysEachByteByItsBlockAndRoundTrips) {
  for (std::uint32_t f = 1; f <= 15; ++f) {
    const std::size_t blockSize = f * 256;
    for (std::size_t size : {std::size_t{0}, std::size_t{9}, blockSize - 1, blockSize,
                             blockSize + 1, std::size_t{70001}}) {
      const Bytes archive = RandomBytes(size, static_cast<unsigned>(f * 100000 + size));
      const Bytes image = Encode(archive, f);
      const ContainerHeader header = LoadContainerHeader(image.data());
      ASSERT_EQ(image.size(), size + 104);
      EXPECT_EQ(header.magic, kContainerMagic);
      EXPECT_EQ(header.version, 1);
      EXPECT_EQ(header.tag, kContainerTag);
      EXPECT_EQ(header.dataOffset, 104u);
      EXPECT_EQ(header.payloadSize, size);
      EXPECT_EQ(header.blockSize, blockSize);
      EXPECT_EQ(header.blockCount, (size + blockSize - 1) / blockSize);
      EXPECT_EQ(header.checksum, PayloadChecksum(image.data() + 104, size));
      for (std::size_t k : {19, 31, 52, 103}) EXPECT_EQ(image[k] ^ HeaderMaskByte(k), 0x20);
      for (std::size_t j = 0; j < size; ++j) {
        const auto block = static_cast<std::uint32_t>(j / blockSize);
        ASSERT_EQ(image[104 + j], archive[j] ^ BlockKeyByte(block, f)) << f << "/" << j;
      }
      ASSERT_TRUE(IsValidContainerImage(image.data(), image.size()));
      ASSERT_EQ(Decode(image), archive) << f << "/" << size;
    }
  }
  EXPECT_EQ(LoadContainerHeader(Encode(Bytes(70000), 1).data()).blockCount, 274u);
}

TEST(ContainerFormat, VerificationReadsOnlyMagicAndChecksum) {
  const Bytes archive = RandomBytes(5000, 2);
  const Bytes good = Encode(archive, 4);
  // Magic bytes, its zero byte included (the checksum still matches), and the payload.
  for (std::size_t k : {0, 5, 9, 104, 3000, 5103}) {
    Bytes bad = good;
    bad[k] ^= 0x01;
    EXPECT_FALSE(IsValidContainerImage(bad.data(), bad.size())) << k;
  }
  Bytes appended = good;
  appended.push_back(0);
  EXPECT_FALSE(IsValidContainerImage(appended.data(), appended.size()));
  for (std::size_t size : {0, 1, 103}) EXPECT_FALSE(IsValidContainerImage(good.data(), size));
  // Version, tag and filler are not read: neither the check nor the archive changes.
  for (std::size_t k : {10, 11, 12, 18, 19, 31, 52, 103}) {
    Bytes changed = good;
    changed[k] ^= 0x5A;
    EXPECT_TRUE(IsValidContainerImage(changed.data(), changed.size())) << k;
    EXPECT_EQ(Decode(changed), archive) << k;
  }
}

// Headers that verify but break the writer's invariants: decode what the file holds, never
// divide by zero, never leave the image.
TEST(ContainerFormat, DamagedHeadersDecodeOnlyWhatTheFileHolds) {
  const Bytes archive = RandomBytes(3000, 5);
  const Bytes good = Encode(archive, 2);
  const Bytes stored(good.begin() + 104, good.end());

  // A blockSize below 256 has factor 0, whose keys are all 0.
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->blockSize = 0; })), stored);
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->blockSize = 255; })), stored);
  // blockCount is not needed to decode in place.
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->blockCount = 1; })), archive);
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->blockCount = ~0u; })), archive);
  // payloadSize: bounded by the file, or a prefix.
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->payloadSize = ~0u; })), archive);
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->payloadSize = 10; })),
            Bytes(archive.begin(), archive.begin() + 10));
  // dataOffset at or past the end: nothing; inside the header: from there, within the file.
  EXPECT_TRUE(Decode(Forge(good, [](ContainerHeader* h) { h->dataOffset = 3104; })).empty());
  EXPECT_TRUE(Decode(Forge(good, [](ContainerHeader* h) { h->dataOffset = ~0u; })).empty());
  EXPECT_EQ(Decode(Forge(good, [](ContainerHeader* h) { h->dataOffset = 0; })).size(), 3000u);
  // A huge blockSize is one block with factor 255.
  const Bytes wild = Decode(Forge(good, [](ContainerHeader* h) { h->blockSize = ~0u; }));
  for (std::size_t j = 0; j < stored.size(); ++j)
    ASSERT_EQ(wild[j], stored[j] ^ BlockKeyByte(0, 255));

  ArchiveSpan span;
  EXPECT_FALSE(DecodeContainerImage(Bytes(103).data(), 103, &span));
}

}  // namespace
}  // namespace uippack
