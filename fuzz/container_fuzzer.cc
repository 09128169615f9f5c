// libFuzzer target for the reading side of the .uip container: VerifyContainer and
// UnwrapContainerToZip on hostile files, checked against a byte-by-byte reference decoder.
//
// Each input is tried three ways:
// 1. as a container file, as it comes (almost always rejected by the checksum);
// 2. as a container whose checksum has been fixed up, so damaged headers reach the decoder;
// 3. as an archive that is wrapped and unwrapped again, which must give it back unchanged.
//
// With UIPPACK_FUZZ_WRITE_SEEDS=<dir> set, the target instead writes valid containers into
// <dir> to seed the corpus, and exits.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "container/container_format.h"
#include "container/container_operations.h"
#include "platform/text.h"

namespace {

using uippack::ArchiveSpan;
using uippack::ContainerHeader;
using uippack::kContainerHeaderSize;
using Bytes = std::vector<std::uint8_t>;

std::string workDir;
std::uint32_t forcedFactor = 1;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "container fuzzer: %s\n", what);
    std::abort();
  }
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot create a work file");
  Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(), "short work write");
  std::fclose(file);
}

bool ReadBytes(const std::string& path, Bytes* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  std::uint8_t chunk[4096];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  std::fclose(file);
  return true;
}

// What the unwrap must write, byte by byte with the reader's own division, blocks numbered
// from 0, keys taken modulo 256. A blockSize of 0 has factor 0, whose keys are all 0.
Bytes ReferenceDecode(const Bytes& file) {
  const ContainerHeader header = uippack::LoadContainerHeader(file.data());
  const std::uint32_t factor = (header.blockSize / 256) % 256;
  Bytes out;
  for (std::uint64_t n = 0; n < header.payloadSize && header.dataOffset + n < file.size(); ++n) {
    const std::uint8_t key =
        header.blockSize == 0
            ? 0
            : uippack::BlockKeyByte(static_cast<std::uint32_t>(n / header.blockSize), factor);
    out.push_back(file[header.dataOffset + n] ^ key);
  }
  return out;
}

// Runs both reading operations on file and checks them against each other and the reference.
void TryContainer(const Bytes& file) {
  const std::string containerPath = workDir + "/f.uip";
  const std::string archivePath = workDir + "/f.zip";
  WriteBytes(containerPath, file);
  unlink(archivePath.c_str());
  const std::wstring wideContainer = uippack::platform::NarrowToWide(containerPath);
  const int valid = uippack::container::VerifyContainer(wideContainer);
  Check(valid == (uippack::IsValidContainerImage(file.data(), file.size()) ? 1 : 0),
        "VerifyContainer disagrees with the image check");
  const int unwrapped = uippack::container::UnwrapContainerToZip(wideContainer);
  Check(unwrapped == valid, "UnwrapContainerToZip disagrees with VerifyContainer");
  Bytes archive;
  const bool created = ReadBytes(archivePath, &archive);
  Check(created == (valid == 1), "an archive exists exactly when the container is valid");
  if (valid == 1) Check(archive == ReferenceDecode(file), "archive differs from the reference");
}

void RemoveWorkDir() {
  for (const char* name : {"/f.uip", "/f.zip", "/r.uip", "/r.zip", "/s.uip", "/s.zip"}) {
    unlink((workDir + name).c_str());
  }
  rmdir(workDir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* seeds = std::getenv("UIPPACK_FUZZ_WRITE_SEEDS");
  const char* base =
      seeds != nullptr ? seeds : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  std::string pattern = std::string(base) + "/uippack-fuzz-XXXXXX";
  Check(mkdtemp(pattern.data()) != nullptr, "cannot make a work directory");
  workDir = pattern;
  std::atexit(RemoveWorkDir);
  if (seeds == nullptr) return 0;

  // Seeds: valid containers of assorted sizes and every factor, written by the real wrap.
  for (std::uint32_t factor = 1; factor <= 15; ++factor) {
    for (std::size_t size : {0, 1, 3, 255, 256, 257, 700, 3841}) {
      forcedFactor = factor;
      Bytes archive(size);
      for (std::size_t i = 0; i < size; ++i) archive[i] = static_cast<std::uint8_t>(i * 7 + size);
      const std::string zip = workDir + "/s.zip";
      WriteBytes(zip, archive);
      Check(
          uippack::container::WrapZipToContainer(uippack::platform::NarrowToWide(zip), forcedFactor,
                                                 uippack::container::ArchiveAfterWrap::Keep) == 1,
          "seed wrap");
      const std::string seed =
          std::string(seeds) + "/f" + std::to_string(factor) + "-" + std::to_string(size) + ".uip";
      Check(std::rename((workDir + "/s.uip").c_str(), seed.c_str()) == 0, "seed rename");
    }
  }
  std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  TryContainer(input);

  if (size >= kContainerHeaderSize) {
    Bytes forged = input;
    ContainerHeader header = uippack::LoadContainerHeader(forged.data());
    header.magic = uippack::kContainerMagic;
    header.checksum = header.dataOffset < forged.size()
                          ? uippack::PayloadChecksum(forged.data() + header.dataOffset,
                                                     forged.size() - header.dataOffset)
                          : 0;
    uippack::StoreContainerHeader(header, forged.data());
    TryContainer(forged);
  }

  // As an archive: wrap with a factor from the input, unwrap, compare.
  forcedFactor = size == 0 ? 1 : data[0] % 15 + 1;
  const std::string zip = workDir + "/r.zip";
  WriteBytes(zip, input);
  Check(uippack::container::WrapZipToContainer(uippack::platform::NarrowToWide(zip), forcedFactor,
                                               uippack::container::ArchiveAfterWrap::Keep) == 1,
        "wrap failed");
  unlink(zip.c_str());
  Check(uippack::container::UnwrapContainerToZip(
            uippack::platform::NarrowToWide(workDir + "/r.uip")) == 1,
        "unwrap of a fresh container failed");
  Bytes back;
  Check(ReadBytes(zip, &back) && back == input, "round trip changed the archive");
  return 0;
}
