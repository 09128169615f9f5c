// Unpacking with the real tools, and the round trip pack then unpack.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/package_fixture.h"

namespace uippack::testing {
namespace {

using Lines = std::vector<std::string>;

// The tree listing with scripts reduced to their names: unpacking keeps them compiled.
Lines ListingWithoutScriptContent(const fs::path& root) {
  Lines lines = TreeListing(root);
  for (auto& line : lines) {
    const auto at = line.find(".lua ");
    if (line[0] == 'f' && at != std::string::npos) line.resize(at + 4);
  }
  return lines;
}

// A package with several layout directories at different depths, several res directories,
// empty directories and non-ASCII names.
void MakeRichPackage(const fs::path& root) {
  MakePackage(root);
  WriteFile(root / "layout/empty-after-copy/.keep", "");
  MakeDirs(root / "layout/empty");
  WriteFile(root / "skins/dark/layout/skin.lua", "print('dark')\n");
  WriteFile(root / "skins/dark/layout/\xC3\xBC\xC3\xA4/\xE6\x96\x87.lua", "print('wen')\n");
  WriteFile(root / "skins/dark/res/colors/palette.txt", "black\n");
  WriteFile(root / "a/b/c/layout/deep.lua", "print('deep')\n");
  WriteFile(root / "a/b/res/\xE5\x9B\xBE\xE7\x89\x87/p.png", "p");
  // An empty subdirectory of res itself would become an empty zip, from which 7-Zip extracts
  // nothing, not even the directory; inside a subdirectory it is an entry of the zip.
  MakeDirs(root / "res/images/empty");
  WriteFile(root / "res/nested/one/two/three.txt", "3");
}

void ExpectRoundTrip(const fs::path& source, const std::vector<std::string>& mode) {
  TempDir temp;
  std::vector<std::string> pack = {"-p", source.string(), (temp / "packed").string()};
  pack.insert(pack.end(), mode.begin(), mode.end());
  const ProcessResult packed = Uippack(pack);
  ASSERT_EQ(packed.exitStatus, 0) << packed.out;
  ASSERT_TRUE(WaitForRemovals(temp / "packed"));

  const ProcessResult unpacked =
      Uippack({"-u", (temp / "packed").string(), (temp / "unpacked").string()});
  ASSERT_EQ(unpacked.exitStatus, 0) << unpacked.out;
  const Lines lines = OwnLines(unpacked.out);
  EXPECT_EQ(lines.back(), "Unpack all uip files ok!");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Decompress all resource zip files finished!"),
            2);
  ASSERT_TRUE(WaitForDeletions(temp / "unpacked"));

  EXPECT_EQ(ListingWithoutScriptContent(temp / "unpacked"), ListingWithoutScriptContent(source));
  for (const auto& entry : fs::recursive_directory_iterator(temp / "unpacked")) {
    if (entry.path().extension() == ".lua") {
      EXPECT_TRUE(IsLua54Bytecode(entry.path())) << entry.path();
    }
  }
}

TEST(RoundTrip, DemoPackageComesBack) {
  ExpectRoundTrip(SourceDir() / "examples/demo", {});
  ExpectRoundTrip(SourceDir() / "examples/demo", {"-uip"});
}

TEST(RoundTrip, RichPackageComesBackInBothContainerModes) {
  TempDir temp;
  MakeRichPackage(temp / "pkg");
  ExpectRoundTrip(temp / "pkg", {});
  ExpectRoundTrip(temp / "pkg", {"-UIP"});
}

TEST(Unpack, TreeWithoutContainerIsRejectedBeforeTheCopy) {
  TempDir temp;
  MakePackage(temp / "pkg");
  ASSERT_EQ(Uippack({"-p", "pkg", "zips", "zip-only"}, temp.path()).exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(temp / "zips"));
  WriteFile(temp / "zips/.backup/layout.uip", "hidden container does not count");
  const ProcessResult result = Uippack({"-u", "zips", "out"}, temp.path());
  EXPECT_EQ(result.out,
            "Start unpacking uip files, please wait...\n"
            "No valid uip files found in path = zips.\n");
  EXPECT_EQ(result.exitStatus, 255);
  EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST(Unpack, DamagedContainerYieldsNoLayoutButTheRunGoesOn) {
  TempDir temp;
  MakePackage(temp / "pkg");
  ASSERT_EQ(Uippack({"-p", "pkg", "packed", "-uip"}, temp.path()).exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(temp / "packed"));
  std::string container = ReadFile(temp / "packed/layout.uip");
  container[container.size() / 2] ^= 0x01;
  WriteFile(temp / "packed/layout.uip", container);

  const ProcessResult result = Uippack({"-u", "packed", "out"}, temp.path());
  EXPECT_EQ(result.exitStatus, 0);
  const Lines lines = OwnLines(result.out);
  EXPECT_EQ(lines[1], "Decompress out/layout.zip finished!");
  EXPECT_EQ(lines.back(), "Unpack all uip files ok!");
  ASSERT_TRUE(WaitForDeletions(temp / "out"));
  EXPECT_FALSE(fs::exists(temp / "out/layout"));
  EXPECT_TRUE(fs::is_directory(temp / "out/res/images"));
  EXPECT_EQ(ReadFile(temp / "packed/layout.uip"), container);  // the source keeps it
}

TEST(Unpack, MissingArchiverLeavesTheUnwrappedArchive) {
  TempDir temp;
  MakePackage(temp / "pkg");
  ASSERT_EQ(Uippack({"-p", "pkg", "packed", "-uip"}, temp.path()).exitStatus, 0);
  ASSERT_TRUE(WaitForRemovals(temp / "packed"));
  const fs::path tools = temp / "tools";
  fs::create_directories(tools);
  fs::copy_file(BinDir() / "uippack", tools / "uippack");

  const ProcessResult result =
      RunProcess({(tools / "uippack").string(), "-u", "packed", "out"}, temp.path());
  EXPECT_EQ(result.exitStatus, 255);
  const Lines lines = OwnLines(result.out);
  ASSERT_EQ(lines.size(), 3u) << result.out;
  EXPECT_EQ(lines[1], "Decompress out/layout.zip failed, CreateProcess failed!,cmdline = \"" +
                          tools.string() + "/7z\"  x " + (temp / "out/layout.zip").string() +
                          " -o" + (temp / "out/layout").string() + " -y");
  EXPECT_EQ(lines[2], "Unpack error,source path = packed, destination path = out");
  EXPECT_TRUE(fs::exists(temp / "out/layout.zip"));
  EXPECT_TRUE(fs::exists(temp / "out/layout.uip"));
}

TEST(Unpack, ArchiveIsExtractedIntoAnExistingDirectoryOfItsName) {
  TempDir temp;
  WriteFile(temp / "stage/same.txt", "new");
  WriteFile(temp / "stage/added.txt", "added");
  ASSERT_EQ(RunProcess({(BinDir() / "7z").string(), "a", "-tzip", (temp / "src/res/a.zip").string(),
                        (temp / "stage/*").string()})
                .exitStatus,
            0);
  WriteFile(temp / "src/res/a/same.txt", "old");
  WriteFile(temp / "src/res/a/other.txt", "other");
  WriteFile(temp / "src/layout.uip", "damaged");  // lets the source pass the test
  const ProcessResult result = Uippack({"-u", "src", "out"}, temp.path());
  ASSERT_EQ(result.exitStatus, 0) << result.out;
  ASSERT_TRUE(WaitForDeletions(temp / "out"));
  EXPECT_EQ(ReadFile(temp / "out/res/a/same.txt"), "new");
  EXPECT_EQ(ReadFile(temp / "out/res/a/added.txt"), "added");
  EXPECT_EQ(ReadFile(temp / "out/res/a/other.txt"), "other");
}

// Writes a container straight from the format's description, independently of our writer.
std::string IndependentContainer(const std::string& archive, unsigned factor) {
  const std::uint32_t blockSize = factor * 256;
  const std::uint32_t size = static_cast<std::uint32_t>(archive.size());
  std::string payload = archive;
  for (std::size_t j = 0; j < payload.size(); ++j) {
    const unsigned block = static_cast<unsigned>(j / blockSize);
    payload[j] = static_cast<char>(payload[j] ^ (((block + 1) * (block + 3) + factor) * factor));
  }
  const std::uint32_t checksum = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(payload.data()), static_cast<uInt>(payload.size())));
  std::string header(104, ' ');
  header.replace(0, 10, std::string("QMARCHIVE\0", 10));
  header.replace(10, 2, std::string("\x01\x00", 2));
  header.replace(12, 7, std::string("brivet\0", 7));
  auto put = [&](std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) header[offset + i] = static_cast<char>(value >> (8 * i));
  };
  put(32, 104);
  put(36, size);
  put(40, checksum);
  put(44, (size + blockSize - 1) / blockSize);
  put(48, blockSize);
  for (unsigned k = 0; k < 104; ++k) {
    header[k] = static_cast<char>(header[k] ^ (((k + 1) * (k + 1) + k + 2) * 234));
  }
  return header + payload;
}

TEST(Unpack, ContainerFromAnIndependentWriter) {
  TempDir temp;
  WriteFile(temp / "stage/main.lua", std::string(3000, '-') + "\nprint('x')\n");
  WriteFile(temp / "stage/sub/\xC3\xA9.txt", "e");
  ASSERT_EQ(RunProcess({(BinDir() / "7z").string(), "a", "-tzip", (temp / "layout.zip").string(),
                        (temp / "stage/*").string(), "-r"})
                .exitStatus,
            0);
  WriteFile(temp / "src/pkg/layout.uip", IndependentContainer(ReadFile(temp / "layout.zip"), 3));
  const ProcessResult result = Uippack({"-u", "src", "out"}, temp.path());
  ASSERT_EQ(result.exitStatus, 0) << result.out;
  ASSERT_TRUE(WaitForDeletions(temp / "out"));
  EXPECT_EQ(TreeListing(temp / "out/pkg/layout"), TreeListing(temp / "stage"));
}

}  // namespace
}  // namespace uippack::testing
