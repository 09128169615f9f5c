#include "container/container_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
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

// A container image for archive, built the way a wrap builds it.
Bytes Encode(const Bytes& archive, std::uint32_t factor) {
  Bytes image(kContainerHeaderSize + archive.size());
  std::memcpy(image.data() + kContainerHeaderSize, archive.data(), archive.size());
  EncodeContainerImage(image.data(), static_cast<std::uint32_t>(archive.size()), factor);
  return image;
}

Bytes Decode(Bytes image) {
  ArchiveSpan span;
  EXPECT_TRUE(DecodeContainerImage(image.data(), image.size(), &span));
  EXPECT_LE(span.offset + span.length, image.size());
  return Bytes(image.begin() + static_cast<std::ptrdiff_t>(span.offset),
               image.begin() + static_cast<std::ptrdiff_t>(span.offset + span.length));
}

// Rewrites the header of image and fixes its checksum, as a forger would: the checksum does
// not cover the header, so such a container passes verification (unless its dataOffset
// points into the header, where the checksum would have to cover itself).
void ForgeHeader(Bytes* image, const ContainerHeader& header) {
  ContainerHeader forged = header;
  forged.checksum = header.dataOffset < image->size()
                        ? PayloadChecksum(image->data() + header.dataOffset,
                                          image->size() - header.dataOffset)
                        : 0;
  StoreContainerHeader(forged, image->data());
  if (header.dataOffset >= kContainerHeaderSize) {
    ASSERT_TRUE(IsValidContainerImage(image->data(), image->size()));
  }
}

TEST(ContainerKeys, HeaderMaskMatchesPublishedRows) {
  const std::uint8_t expected[32] = {
      0xBE, 0x66, 0xE2, 0x32, 0x56, 0x4E, 0x1A, 0xBA, 0x2E, 0x76, 0x92, 0x82, 0x46, 0xDE, 0x4A, 0x8A,
      0x9E, 0x86, 0x42, 0xD2, 0x36, 0x6E, 0x7A, 0x5A, 0x0E, 0x96, 0xF2, 0x22, 0x26, 0xFE, 0xAA, 0x2A};
  for (std::size_t k = 0; k < 32; ++k) EXPECT_EQ(HeaderMaskByte(k), expected[k]) << "k=" << k;
}

TEST(ContainerKeys, BlockKeysMatchPublishedRowsAndRepeatEvery256Blocks) {
  const struct {
    std::uint32_t factor;
    std::uint8_t keys[8];
  } rows[] = {
      {1, {0x04, 0x09, 0x10, 0x19, 0x24, 0x31, 0x40, 0x51}},
      {2, {0x0A, 0x14, 0x22, 0x34, 0x4A, 0x64, 0x82, 0xA4}},
      {3, {0x12, 0x21, 0x36, 0x51, 0x72, 0x99, 0xC6, 0xF9}},
      {15, {0x0E, 0x59, 0xC2, 0x49, 0xEE, 0xB1, 0x92, 0x91}},
  };
  for (const auto& row : rows) {
    for (std::uint32_t b = 0; b < 8; ++b) {
      EXPECT_EQ(BlockKeyByte(b, row.factor), row.keys[b]) << "f=" << row.factor << " b=" << b;
    }
  }
  for (std::uint32_t f = 1; f <= 15; ++f) {
    for (std::uint32_t b = 0; b < 256; ++b) {
      ASSERT_EQ(BlockKeyByte(b + 256, f), BlockKeyByte(b, f));
      ASSERT_EQ(BlockKeyByte(b + 0x10000 * 256, f), BlockKeyByte(b, f));
    }
  }
}

TEST(ContainerChecksum, IsStandardCrc32FromZero) {
  const std::string digits = "123456789";
  EXPECT_EQ(PayloadChecksum(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
            0xCBF43926u);
  EXPECT_EQ(PayloadChecksum(nullptr, 0), 0u);
}

TEST(ContainerImage, AbcWithFactorOneIsByteExact) {
  const Bytes expected = {
      0xEF, 0x2B, 0xA3, 0x60, 0x15, 0x06, 0x53, 0xEC, 0x6B, 0x76, 0x93, 0x82, 0x24, 0xAC, 0x23, 0xFC,
      0xFB, 0xF2, 0x42, 0xF2, 0x16, 0x4E, 0x5A, 0x7A, 0x2E, 0xB6, 0xD2, 0x02, 0x06, 0xDE, 0x8A, 0x0A,
      0x16, 0xA6, 0xA2, 0x72, 0x15, 0x8E, 0xDA, 0xFA, 0xED, 0x5E, 0x7E, 0x93, 0x07, 0x1E, 0x0A, 0xCA,
      0x5E, 0xC7, 0x02, 0x12, 0xD6, 0x8E, 0x1A, 0xBA, 0xEE, 0xF6, 0x92, 0x42, 0xC6, 0x1E, 0x4A, 0x4A,
      0x1E, 0xC6, 0x42, 0x92, 0xF6, 0xEE, 0xBA, 0x1A, 0x8E, 0xD6, 0x32, 0x22, 0xE6, 0x7E, 0xEA, 0x2A,
      0x3E, 0x26, 0xE2, 0x72, 0x96, 0xCE, 0xDA, 0xFA, 0xAE, 0x36, 0x52, 0x82, 0x86, 0x5E, 0x0A, 0x8A,
      0xDE, 0x06, 0x02, 0xD2, 0xB6, 0x2E, 0x7A, 0x5A, 0x65, 0x66, 0x67};
  const Bytes image = Encode({'a', 'b', 'c'}, 1);
  EXPECT_EQ(image, expected);

  const ContainerHeader header = LoadContainerHeader(image.data());
  EXPECT_EQ(header.magic, kContainerMagic);
  EXPECT_EQ(header.version, 1);
  EXPECT_EQ(header.tag, kContainerTag);
  EXPECT_EQ(header.dataOffset, 104u);
  EXPECT_EQ(header.payloadSize, 3u);
  EXPECT_EQ(header.checksum, 0x512CE803u);
  EXPECT_EQ(header.blockCount, 1u);
  EXPECT_EQ(header.blockSize, 256u);
  EXPECT_TRUE(IsValidContainerImage(image.data(), image.size()));
  EXPECT_EQ(Decode(image), Bytes({'a', 'b', 'c'}));
}

TEST(ContainerImage, UnsetHeaderBytesAreMaskedSpaces) {
  Bytes stored(kContainerHeaderSize);
  StoreContainerHeader(MakeContainerHeader(12345, 7), stored.data());
  for (std::size_t k = 19; k < 32; ++k) EXPECT_EQ(stored[k] ^ HeaderMaskByte(k), 0x20) << k;
  for (std::size_t k = 52; k < 104; ++k) EXPECT_EQ(stored[k] ^ HeaderMaskByte(k), 0x20) << k;
}

TEST(ContainerImage, EmptyArchiveIsAHeaderAlone) {
  const Bytes image = Encode({}, 9);
  ASSERT_EQ(image.size(), 104u);
  const ContainerHeader header = LoadContainerHeader(image.data());
  EXPECT_EQ(header.payloadSize, 0u);
  EXPECT_EQ(header.blockCount, 0u);
  EXPECT_EQ(header.checksum, 0u);
  EXPECT_EQ(header.blockSize, 9u * 256);
  EXPECT_TRUE(IsValidContainerImage(image.data(), image.size()));
  EXPECT_TRUE(Decode(image).empty());
}

TEST(ContainerImage, BlockCountAndKeysAtBlockBoundaries) {
  for (std::uint32_t f : {1u, 6u, 15u}) {
    const std::uint32_t blockSize = f * 256;
    const Bytes zeros(blockSize + 1, 0);
    const Bytes exact = Encode(Bytes(zeros.begin(), zeros.end() - 1), f);
    EXPECT_EQ(LoadContainerHeader(exact.data()).blockCount, 1u);
    const Bytes oneMore = Encode(zeros, f);
    EXPECT_EQ(LoadContainerHeader(oneMore.data()).blockCount, 2u);
    // Zeros store their key: the last block's first byte and the first block's last byte.
    EXPECT_EQ(oneMore[104 + blockSize], BlockKeyByte(1, f));
    EXPECT_EQ(oneMore[104 + blockSize - 1], BlockKeyByte(0, f));
  }
}

TEST(ContainerImage, Block256TakesTheKeyOfBlock0) {
  const Bytes archive = RandomBytes(70000, 1);
  const Bytes image = Encode(archive, 1);
  EXPECT_EQ(LoadContainerHeader(image.data()).blockCount, 274u);
  for (std::size_t j = 65536; j < 65792; ++j) {
    ASSERT_EQ(image[104 + j], archive[j] ^ 0x04) << j;
  }
  EXPECT_EQ(image[104 + 65792], archive[65792] ^ BlockKeyByte(1, 1));
}

TEST(ContainerImage, EveryFactorRoundTripsAtAwkwardLengths) {
  for (std::uint32_t f = 1; f <= 15; ++f) {
    const std::size_t blockSize = f * 256;
    for (std::size_t size : {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{9},
                             blockSize - 1, blockSize, blockSize + 1, 3 * blockSize + 13,
                             std::size_t{70001}}) {
      const Bytes archive = RandomBytes(size, static_cast<unsigned>(f * 1000 + size));
      const Bytes image = Encode(archive, f);
      ASSERT_EQ(image.size(), size + 104);
      // Every stored byte carries its block's key, checked byte by byte against the word loop.
      for (std::size_t j = 0; j < size; ++j) {
        ASSERT_EQ(image[104 + j],
                  archive[j] ^ BlockKeyByte(static_cast<std::uint32_t>(j / blockSize), f))
            << "f=" << f << " j=" << j;
      }
      ASSERT_TRUE(IsValidContainerImage(image.data(), image.size()));
      ASSERT_EQ(Decode(image), archive) << "f=" << f << " size=" << size;
    }
  }
}

TEST(ContainerVerify, RejectsDamageToMagicPayloadOrLength) {
  const Bytes good = Encode(RandomBytes(5000, 2), 4);
  ASSERT_TRUE(IsValidContainerImage(good.data(), good.size()));

  for (std::size_t k = 0; k < 10; ++k) {  // the zero byte of the magic included
    Bytes bad = good;
    bad[k] ^= 0x01;
    EXPECT_FALSE(IsValidContainerImage(bad.data(), bad.size())) << k;
  }
  for (std::size_t j : {std::size_t{104}, std::size_t{2000}, good.size() - 1}) {
    Bytes bad = good;
    bad[j] ^= 0x80;
    EXPECT_FALSE(IsValidContainerImage(bad.data(), bad.size())) << j;
  }
  Bytes appended = good;
  appended.push_back(0);
  EXPECT_FALSE(IsValidContainerImage(appended.data(), appended.size()));
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{103}}) {
    EXPECT_FALSE(IsValidContainerImage(good.data(), size)) << size;
  }
}

TEST(ContainerVerify, MagicWrongOnlyInItsZeroByteFailsEvenWithMatchingChecksum) {
  Bytes image = Encode(RandomBytes(300, 3), 2);
  ContainerHeader header = LoadContainerHeader(image.data());
  header.magic[9] = '!';
  StoreContainerHeader(header, image.data());
  EXPECT_EQ(LoadContainerHeader(image.data()).checksum,
            PayloadChecksum(image.data() + 104, image.size() - 104));
  EXPECT_FALSE(IsValidContainerImage(image.data(), image.size()));
}

TEST(ContainerVerify, VersionTagAndFillerAreNotRead) {
  const Bytes archive = RandomBytes(1000, 4);
  const Bytes good = Encode(archive, 3);
  for (std::size_t k : {10, 11, 12, 17, 18, 19, 31, 52, 77, 103}) {
    Bytes changed = good;
    changed[k] ^= 0x5A;
    EXPECT_TRUE(IsValidContainerImage(changed.data(), changed.size())) << k;
    EXPECT_EQ(Decode(changed), archive) << k;
  }
}

// The policy for headers that verify but break the writer's invariants: decode what the
// file holds, never reject, never leave the image.
TEST(ContainerDecode, DamagedHeadersDecodeWithinTheImage) {
  const Bytes archive = RandomBytes(3000, 5);
  const Bytes good = Encode(archive, 2);
  const Bytes stored(good.begin() + 104, good.end());
  const ContainerHeader original = LoadContainerHeader(good.data());

  {  // blockSize 0 and below 256: factor 0, the stored bytes come out unchanged
    for (std::uint32_t blockSize : {0u, 1u, 255u}) {
      Bytes image = good;
      ContainerHeader header = original;
      header.blockSize = blockSize;
      ForgeHeader(&image, header);
      EXPECT_EQ(Decode(image), stored) << blockSize;
    }
  }
  {  // blockCount too small or overflowing: ignored, the whole payload decodes
    for (std::uint32_t blockCount : {0u, 1u, 0xFFFFFFFFu}) {
      Bytes image = good;
      ContainerHeader header = original;
      header.blockCount = blockCount;
      ForgeHeader(&image, header);
      EXPECT_EQ(Decode(image), archive) << blockCount;
    }
  }
  {  // payloadSize beyond the file: what the file holds; smaller: a prefix
    Bytes image = good;
    ContainerHeader header = original;
    header.payloadSize = 0xFFFFFFFFu;
    ForgeHeader(&image, header);
    EXPECT_EQ(Decode(image), archive);
    header.payloadSize = 10;
    ForgeHeader(&image, header);
    EXPECT_EQ(Decode(image), Bytes(archive.begin(), archive.begin() + 10));
  }
  {  // dataOffset at, past or far past the end: nothing to decode
    for (std::uint32_t dataOffset :
         {static_cast<std::uint32_t>(good.size()), static_cast<std::uint32_t>(good.size() + 1),
          0xFFFFFFFFu}) {
      Bytes image = good;
      ContainerHeader header = original;
      header.dataOffset = dataOffset;
      ForgeHeader(&image, header);
      ArchiveSpan span;
      ASSERT_TRUE(DecodeContainerImage(image.data(), image.size(), &span));
      EXPECT_EQ(span.length, 0u) << dataOffset;
      EXPECT_LE(span.offset, image.size());
    }
  }
  {  // dataOffset inside the header: decoding starts there, bounded by the file
    Bytes image = good;
    ContainerHeader header = original;
    header.dataOffset = 0;
    ForgeHeader(&image, header);
    const Bytes decoded = Decode(image);
    EXPECT_EQ(decoded.size(), archive.size());
  }
  {  // a wild blockSize that is not a multiple of 256
    Bytes image = good;
    ContainerHeader header = original;
    header.blockSize = 0xFFFFFFFFu;  // factor 255, a single block
    ForgeHeader(&image, header);
    const Bytes decoded = Decode(image);
    ASSERT_EQ(decoded.size(), stored.size());
    for (std::size_t j = 0; j < stored.size(); ++j) {
      ASSERT_EQ(decoded[j], stored[j] ^ BlockKeyByte(0, 255));
    }
  }
  ArchiveSpan span;
  Bytes tiny(103, 0);
  EXPECT_FALSE(DecodeContainerImage(tiny.data(), tiny.size(), &span));
}

std::uint32_t ForcedSeven() { return 7; }

TEST(ContainerBlockFactor, SeamForcesAndClockDrawsWithinRange) {
  SetBlockFactorSourceForTesting(&ForcedSeven);
  EXPECT_EQ(DrawBlockFactor(), 7u);
  SetBlockFactorSourceForTesting(nullptr);

  // Seeded from the clock at every draw: two draws in the same second agree.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::time_t before = std::time(nullptr);
    const std::uint32_t first = DrawBlockFactor();
    const std::uint32_t second = DrawBlockFactor();
    EXPECT_GE(first, 1u);
    EXPECT_LE(first, 15u);
    if (std::time(nullptr) == before) {
      EXPECT_EQ(first, second);
      return;
    }
  }
  ADD_FAILURE() << "the clock never held still for two draws";
}

}  // namespace
}  // namespace uippack
