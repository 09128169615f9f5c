// libFuzzer target for uipcheck's reading of archives and containers: our reader of the end
// record and central directory, libarchive's streaming read beside it, and the container
// checks, all on hostile bytes.
//
// Each input is tried four ways:
// 1. through ZipDirectory alone, read through a large and a tiny window, which must agree
//    entry for entry and fault for fault, every entry lying after the one before;
// 2. as a resource archive, checked whole as uipcheck checks one without the source;
// 3. wrapped by the core into a sound container, checked as a layout.uip alone (the archive
//    then read through the container's keys);
// 4. as a layout.uip as it comes (the header checks).
//
// With UIPPACK_FUZZ_WRITE_SEEDS=<dir> set, the target instead writes archives of its own into
// <dir> (stored, with a data descriptor, with ZIP64 end records) and exits; run_fuzz.sh adds
// archives made by 7-Zip.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "container/container_operations.h"
#include "platform/text.h"
#include "uipcheck/content_check.h"
#include "uipcheck/report.h"
#include "uipcheck/zip_directory.h"

namespace {

std::string workDir;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "uipcheck fuzzer: %s\n", what);
    std::abort();
  }
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot create a work file");
  Check(std::fwrite(data, 1, size, file) == size, "short work write");
  std::fclose(file);
}

class MemorySource : public uipcheck::ByteSource {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  std::size_t ChunkSize() const override { return 4096; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length, std::size_t* got,
              std::string*) override {
    *got = offset < size_ ? std::min<std::size_t>(length, size_ - offset) : 0;
    if (*got > 0) std::memcpy(buffer, data_ + offset, *got);
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// Everything ZipDirectory says of the input, as text.
std::string ReadDirectory(const std::uint8_t* data, std::size_t size, std::size_t window) {
  MemorySource source(data, size);
  uipcheck::ZipDirectory directory(source, window, window);
  uipcheck::ZipFault fault;
  if (!directory.Open(&fault)) return "open: " + fault.expected + " / " + fault.found;
  std::string text;
  std::uint64_t last = 0;
  uipcheck::ZipEntryInfo entry;
  for (std::uint64_t count = 0;; ++count) {
    const uipcheck::ZipDirectory::Step step = directory.Next(&entry, &fault);
    if (step == uipcheck::ZipDirectory::Step::Fault) {
      return text + "fault: " + fault.entry + " / " + fault.expected + " / " + fault.found;
    }
    if (step == uipcheck::ZipDirectory::Step::End) {
      Check(count == directory.EntryCount(), "the end before every entry listed");
      return text + "end";
    }
    Check(count == 0 || entry.localOffset > last, "an entry that does not follow the one before");
    Check(entry.localOffset + entry.compressedSize <= size, "an entry past the archive's end");
    last = entry.localOffset;
    text += entry.name + " " + std::to_string(entry.localOffset) + " " + std::to_string(entry.crc) +
            "\n";
  }
}

// Runs one of uipcheck's checks on what lies in the work directory, its lines going nowhere.
template <typename Run>
void RunCheck(Run run) {
  uipcheck::Report report(uipcheck::OutputFormat::Text, false, std::nullopt, "fuzz");
  uipcheck::Findings& part = report.Open();
  {
    uipcheck::ContentCheck check;
    check.ReportTo(part);
    run(check);
  }
  report.Complete(part);
  report.Finish("fuzz", "null");
}

void RemoveWorkDir() {
  for (const char* name : {"/r.zip", "/layout.uip", "/layout.zip", "/s.zip", "/s.uip"}) {
    unlink((workDir + name).c_str());
  }
  rmdir(workDir.c_str());
}

// Archives written byte by byte: one stored entry, one whose sizes follow its data, and the
// same with the ZIP64 end records.
std::string Le(std::uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(i < 8 ? value >> (8 * i) & 0xFF : 0);
  return out;
}

std::string SeedArchive(bool descriptor, bool zip64) {
  const std::string name = "dir/a.txt";
  const std::string data = "seed data";
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  const std::string sizes = Le(crc, 4) + Le(data.size(), 4) + Le(data.size(), 4);
  const std::string flags = Le(descriptor ? 8 : 0, 2);
  std::string local = "PK\3\4" + Le(10, 2) + flags + Le(0, 6) + (descriptor ? Le(0, 12) : sizes) +
                      Le(name.size(), 2) + Le(0, 2) + name + data;
  if (descriptor) local += "PK\7\x08" + sizes;
  const std::string central = "PK\1\2" + Le(0x33F, 2) + Le(10, 2) + flags + Le(0, 6) + sizes +
                              Le(name.size(), 2) + Le(0, 8) + Le(0, 4) + Le(0, 4) + name;
  std::string end;
  if (zip64) {
    const std::size_t recordAt = local.size() + central.size();
    end = "PK\6\6" + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 8) + Le(1, 8) + Le(1, 8) +
          Le(central.size(), 8) + Le(local.size(), 8) + "PK\6\7" + Le(0, 4) + Le(recordAt, 8) +
          Le(1, 4);
  }
  end += "PK\5\6" + Le(0, 4) + Le(1, 2) + Le(1, 2) + Le(central.size(), 4) +
         Le(zip64 ? 0xFFFFFFFF : local.size(), 4) + Le(0, 2);
  return local + central + end;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* seeds = std::getenv("UIPPACK_FUZZ_WRITE_SEEDS");
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/uipcheck-fuzz-XXXXXX";
  Check(mkdtemp(pattern.data()) != nullptr, "cannot make a work directory");
  workDir = pattern;
  std::atexit(RemoveWorkDir);
  // uipcheck's lines are not the fuzzer's; libFuzzer reports on standard error.
  const int null = open("/dev/null", O_WRONLY);
  Check(null >= 0 && dup2(null, 1) == 1, "cannot silence standard output");
  close(null);
  if (seeds == nullptr) return 0;
  for (const bool descriptor : {false, true}) {
    for (const bool zip64 : {false, true}) {
      const std::string archive = SeedArchive(descriptor, zip64);
      for (const char mode : {'\0', '\1', '\2'}) {
        const std::string seed = std::string(seeds) + "/seed-" + std::to_string(descriptor) +
                                 std::to_string(zip64) + std::to_string(mode) + ".zip";
        const std::string input = mode + archive;
        WriteBytes(seed, reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
      }
    }
  }
  std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the way; the rest is the archive or container.
  const std::uint8_t way = data[0] % 3;
  const std::uint8_t* bytes = data + 1;
  const std::size_t length = size - 1;
  Check(ReadDirectory(bytes, length, 64 * 1024) == ReadDirectory(bytes, length, 1 + data[0] % 61),
        "the window changes what the directory says");

  const uipcheck::Place here{workDir, "fuzz"};
  uipcheck::SourceWalk walk = uipcheck::SourceWalk::At(workDir);
  if (way == 0) {
    WriteBytes(workDir + "/r.zip", bytes, length);
    RunCheck([&](uipcheck::ContentCheck& check) {
      check.CheckResourceArchive(here.Child("r.zip"), nullptr, walk);
    });
  } else if (way == 1) {
    WriteBytes(workDir + "/s.zip", bytes, length);
    Check(uippack::container::WrapZipToContainer(
              uippack::platform::NarrowToWide(workDir + "/s.zip"), 1 + data[0] % 15,
              uippack::container::ArchiveAfterWrap::Delete) == 1,
          "wrap failed");
    Check(std::rename((workDir + "/s.uip").c_str(), (workDir + "/layout.uip").c_str()) == 0,
          "rename failed");
    RunCheck([&](uipcheck::ContentCheck& check) {
      check.CheckLayoutOutputs(here, true, false, nullptr, walk);
    });
  } else {
    WriteBytes(workDir + "/layout.uip", bytes, length);
    RunCheck([&](uipcheck::ContentCheck& check) {
      check.CheckLayoutOutputs(here, true, false, nullptr, walk);
    });
  }
  return 0;
}
