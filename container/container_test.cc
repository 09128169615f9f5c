// The container's format on bytes, and the three operations against real files in a temporary
// directory.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <tuple>

#include "container/container_format.h"
#include "container/container_operations.h"
#include "platform/file.h"
#include "tests/test_support.h"

namespace uippack::container {
namespace {

using namespace testing;
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

// The header's mask and the checksum are pinned by the published container below; its three
// bytes take only the first key of factor 1.
TEST(ContainerFormat, PublishedKeyValues) {
  // Blocks 0 to 7 for the factors 1, 2, 3 and 15.
  const std::uint32_t factors[] = {1, 2, 3, 15};
  const std::uint8_t keys[4][8] = {{0x04, 0x09, 0x10, 0x19, 0x24, 0x31, 0x40, 0x51},
                                   {0x0A, 0x14, 0x22, 0x34, 0x4A, 0x64, 0x82, 0xA4},
                                   {0x12, 0x21, 0x36, 0x51, 0x72, 0x99, 0xC6, 0xF9},
                                   {0x0E, 0x59, 0xC2, 0x49, 0xEE, 0xB1, 0x92, 0x91}};
  for (std::uint32_t i = 0; i < 32; ++i)
    EXPECT_EQ(BlockKeyByte(i % 8, factors[i / 8]), keys[i / 8][i % 8]) << i;
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
      // filler is pinned by the published container further down.
      EXPECT_EQ(std::tie(h.version, h.tag, h.payloadSize, h.blockSize, h.blockCount),
                std::tuple(1, kContainerTag, size, blockSize, (size + blockSize - 1) / blockSize));
      for (std::uint32_t j = 0; j < size; ++j)
        ASSERT_EQ(image[104 + j] ^ archive[j], BlockKeyByte(j / blockSize, f)) << f << "/" << j;
      ASSERT_TRUE(IsValidContainerImage(image.data(), image.size()));
      ASSERT_EQ(Decode(image), archive) << f << "/" << size;
      // Read in parts that start and end inside blocks, the payload decodes the same.
      Bytes parts(image.begin() + 104, image.end());
      for (std::size_t at = 0; at < size; at += 1000) {
        ScrambleBlocksAt(parts.data() + at, std::min<std::size_t>(1000, size - at), blockSize, at);
      }
      ASSERT_EQ(parts, archive) << f << "/" << size;
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
      {&Header::blockSize, 0, stored},      {&Header::blockSize, 255, stored},
      {&Header::blockSize, ~0u, wild},      {&Header::blockCount, ~0u, archive},
      {&Header::payloadSize, ~0u, archive}, {&Header::payloadSize, 10, prefix},
      {&Header::dataOffset, 3104, {}},      {&Header::dataOffset, ~0u, {}}};
  for (const auto& [field, value, expected] : rows)
    EXPECT_EQ(Decode(Forge(good, field, value)), expected) << value;
  EXPECT_EQ(Decode(Forge(good, &Header::dataOffset, 0)).size(), 3000u);
  ArchiveSpan span;
  EXPECT_FALSE(DecodeContainerImage(Bytes(good).data(), 103, &span));
}

using enum ArchiveAfterWrap;
int Wrap(const fs::path& zip, ArchiveAfterWrap after = Keep) {
  return WrapZipToContainer(Wide(zip), 1, after);
}
int Unwrap(const fs::path& uip) { return UnwrapContainerToZip(Wide(uip)); }
int Verify(const fs::path& uip) { return VerifyContainer(Wide(uip)); }

// The deleting wrap in a child process under the limit: limits must not touch the test process.
int WrapInChild(int resource, rlim_t bytes, const fs::path& zip) {
  return InChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead
    Limit(resource, bytes);
    return Wrap(zip, Delete);
  });
}

struct ContainerOperations : ::testing::Test {
  TempDir dir;
};

TEST_F(ContainerOperations, AbcIsThePublishedFileAndUnwrapsBack) {
  const std::string expected =
      "\xEF\x2B\xA3\x60\x15\x06\x53\xEC\x6B\x76\x93\x82\x24\xAC\x23\xFC\xFB\xF2\x42\xF2\x16\x4E"
      "\x5A\x7A\x2E\xB6\xD2\x02\x06\xDE\x8A\x0A\x16\xA6\xA2\x72\x15\x8E\xDA\xFA\xED\x5E\x7E\x93"
      "\x07\x1E\x0A\xCA\x5E\xC7\x02\x12\xD6\x8E\x1A\xBA\xEE\xF6\x92\x42\xC6\x1E\x4A\x4A\x1E\xC6"
      "\x42\x92\xF6\xEE\xBA\x1A\x8E\xD6\x32\x22\xE6\x7E\xEA\x2A\x3E\x26\xE2\x72\x96\xCE\xDA\xFA"
      "\xAE\x36\x52\x82\x86\x5E\x0A\x8A\xDE\x06\x02\xD2\xB6\x2E\x7A\x5A\x65\x66\x67";
  WriteFile(dir / "layout.zip", "abc");
  ASSERT_EQ(Wrap(dir / "layout.zip", Delete), 1);
  EXPECT_EQ(ReadFile(dir / "layout.uip"), expected);
  EXPECT_EQ(Verify(dir / "layout.uip"), 1);
  ASSERT_EQ(Unwrap(dir / "layout.uip"), 1);
  EXPECT_EQ(ReadFile(dir / "layout.zip"), "abc");
  EXPECT_TRUE(fs::exists(dir / "layout.uip"));  // deleted later by the unpack pipeline
}

// Names come from the last ".zip" or ".uip", letter case counting. A missing archive, or one of
// 4 GiB or more (sparse files, refused before a byte is read), leaves an empty container; an
// invalid, short, empty, missing or 4 GiB container creates no archive.
TEST_F(ContainerOperations, RefusalsCreateNothingAndKeepAnEarlierContainer) {
  WriteFile(dir / "a.zip.bak", "x");
  ASSERT_EQ(Wrap(dir / "a.zip.bak"), 1);
  fs::rename(dir / "a.uip", dir / "c.uip.old");
  ASSERT_EQ(Unwrap(dir / "c.uip.old"), 1);
  EXPECT_EQ(ReadFile(dir / "c.zip"), "x");
  WriteFile(dir / "D.ZIP", "z");
  fs::copy_file(dir / "c.uip.old", dir / "E.UIP");
  const auto listing = TreeListing(dir.path());
  EXPECT_EQ(Wrap(dir / "D.ZIP") + Unwrap(dir / "E.UIP"), 0);
  EXPECT_EQ(TreeListing(dir.path()), listing);

  std::string good = ReadFile(dir / "E.UIP"), flipped = good;
  flipped[104] ^= 1;  // the stored archive
  for (const std::string& bad : {good.substr(0, 103), std::string(), flipped}) {
    WriteFile(dir / "a.uip", bad);
    EXPECT_EQ(Verify(dir / "a.uip") + Unwrap(dir / "a.uip"), 0);
    EXPECT_FALSE(fs::exists(dir / "a.zip"));
  }
  EXPECT_EQ(Unwrap(dir / "missing.uip") + Verify(dir.path()), 0);

  WriteFile(dir / "a.uip", good);
  EXPECT_EQ(Wrap(dir / "a.zip") + Wrap(dir / "a.zip", Delete), 0);  // missing
  EXPECT_EQ(ReadFile(dir / "a.uip"), good);
  WriteFile(dir / "big.zip", "");
  for (std::uint64_t size : {kMaxArchiveSize + 1, std::uint64_t{1} << 32}) {
    fs::resize_file(dir / "big.zip", size);
    EXPECT_EQ(Wrap(dir / "big.zip"), 0);
    EXPECT_FALSE(fs::exists(dir / "big.uip"));
  }
  WriteFile(dir / "big.uip", "");
  fs::resize_file(dir / "big.uip", std::uint64_t{1} << 32);
  EXPECT_EQ(Unwrap(dir / "big.uip"), 0);

  // A whole header with its magic, then 256 MiB the file system does not hold: refused without
  // being held whole. (The peak can only show growth beyond what the process ever used.)
  WriteFile(dir / "s.uip", good);
  fs::resize_file(dir / "s.uip", 256 << 20);
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  EXPECT_EQ(Verify(dir / "s.uip") + Unwrap(dir / "s.uip"), 0);
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024);
}

TEST_F(ContainerOperations, FilesHeldByAnotherOpenerOrInPlaceOfALinkAreLeftAlone) {
  WriteFile(dir / "a.zip", "archive");
  ASSERT_EQ(Wrap(dir / "a.zip"), 1);
  const std::string container = ReadFile(dir / "a.uip");
  {
    auto held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.uip"));
    EXPECT_EQ(Wrap(dir / "a.zip") + Verify(dir / "a.uip"), 0);
    EXPECT_EQ(ReadFile(dir / "a.uip"), container);  // not emptied by the refused wrap
  }
  {
    auto held = platform::ExclusiveFile::OpenForReading(Wide(dir / "a.zip"));
    EXPECT_EQ(Unwrap(dir / "a.uip") + Wrap(dir / "a.zip"), 0);
    EXPECT_EQ(ReadFile(dir / "a.zip"), "archive");
  }
  // Links stand where the files go: nothing is read or written through them.
  MakeTree(dir.path(), {"victim", "b.zip"});
  WriteFile(dir / "c.uip", container);
  for (const auto& [target, link] :
       {std::pair{"victim", "b.uip"}, {"victim", "c.zip"}, {"a.zip", "d.zip"}, {"a.uip", "e.uip"}})
    fs::create_symlink(dir / target, dir / link);
  EXPECT_EQ(Wrap(dir / "b.zip") + Unwrap(dir / "c.uip"), 0);
  EXPECT_EQ(Wrap(dir / "d.zip") + Verify(dir / "e.uip"), 0);
  EXPECT_EQ(ReadFile(dir / "victim"), "victim");
}

// An archive the wrap cannot set aside (immutable: root ignores permission bits), a container
// that cannot be made (a directory stands there) or that the file size limit cuts short, and
// memory that cannot be had: each fails, leaves no container, and keeps the archive where it
// was. Files of the package named like a set-aside archive are never taken.
TEST_F(ContainerOperations, FailuresKeepTheArchive) {
  WriteFile(dir / "a.zip", "archive");
  const auto immutable = [&](const char* flag) {  // where the file system has the flag
    return RunProcess({"/usr/bin/chattr", flag, (dir / "a.zip").string()}).exitStatus == 0;
  };
  if (immutable("+i")) {
    const int result = Wrap(dir / "a.zip", Delete);
    immutable("-i");
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(fs::exists(dir / "a.uip"));
  }
  MakeDirs(dir / "a.uip");
  EXPECT_EQ(Wrap(dir / "a.zip", Delete), 0);
  EXPECT_EQ(TreeListing(dir.path()).size(), 2u);  // a.zip as it was and the directory a.uip
  fs::remove(dir / "a.uip");
  // Files of the package under every name this run may set the archive aside under, then under
  // all of them but the last.
  const std::string ours = ".a.zip." + std::to_string(getpid()) + ".";
  for (int i = 0; i < 100; ++i) WriteFile(dir / (ours + std::to_string(i) + ".wrapping"), "");
  EXPECT_EQ(Wrap(dir / "a.zip", Delete), 0);
  fs::remove(dir / (ours + "99.wrapping"));
  ASSERT_EQ(Wrap(dir / "a.zip", Delete), 1);
  EXPECT_FALSE(fs::exists(dir / "a.zip"));
  EXPECT_EQ(TreeListing(dir.path()).size(), 100u);  // a.uip and the 99 files of the package
  for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove(entry.path());

  // The file size limit lets the archive be rewritten but not the 104 bytes longer container.
  WriteFile(dir / "a.zip", std::string(10000, 'a'));
  EXPECT_EQ(WrapInChild(RLIMIT_FSIZE, 10050, dir / "a.zip"), 0);
  EXPECT_EQ(ReadFile(dir / "a.zip"), std::string(10000, 'a'));
  EXPECT_EQ(TreeListing(dir.path()).size(), 1u);  // no partial container, nothing aside

#if !defined(__SANITIZE_ADDRESS__)  // AddressSanitizer maps more than the limit allows
  fs::resize_file(dir / "a.zip", 256 << 20);
  EXPECT_EQ(WrapInChild(RLIMIT_DATA, 64 << 20, dir / "a.zip"), 0);
  EXPECT_FALSE(fs::exists(dir / "a.uip"));
  EXPECT_EQ(fs::file_size(dir / "a.zip"), 256u << 20);
#endif
}

}  // namespace
}  // namespace uippack::container
