// Wrap and unwrap of large archives against the system's copier.
//
//   container_bench [--dir DIR] [--reps N] SIZE_MIB...
//
// For each size, an archive of that many MiB is written to DIR, then, N times over and
// interleaved: `cp` + `sync` of the archive, the wrap, `cp` + `sync` of the container, the
// unwrap, after one uncounted round. Every run is a child process of this small driver, so its
// peak RSS (ru_maxrss) is the operation's own; the page cache is warm (the input is read just
// before) and clean (sync before each run). Reported: median seconds, GB/s, ratio to the
// median copy, and peak RSS.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "container/container_format.h"
#include "container/container_operations.h"
#include "platform/text.h"

extern char** environ;

namespace {

constexpr std::size_t kMiB = 1 << 20;

struct Run {
  double seconds = 0;
  double peakRssMiB = 0;
  bool ok = false;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "container_bench: %s\n", what.c_str());
  std::exit(2);
}

// Writes size MiB of pseudo-random bytes a MiB at a time, so this driver stays small and its
// children start small.
void WriteArchive(const std::string& path, std::size_t mib) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("cannot create " + path);
  std::vector<std::uint64_t> chunk(kMiB / 8);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::size_t m = 0; m < mib; ++m) {
    for (auto& word : chunk) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    if (std::fwrite(chunk.data(), 1, kMiB, file) != kMiB) Fail("cannot write " + path);
  }
  std::fclose(file);
}

// Reads the file once so the run that follows finds it in the page cache.
void WarmCache(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) Fail("cannot read " + path);
  std::vector<char> chunk(kMiB);
  while (std::fread(chunk.data(), 1, chunk.size(), file) == chunk.size()) {
  }
  std::fclose(file);
}

// Runs work in a child process and measures it from fork to reaped exit.
Run InChild(const std::function<bool()>& work) {
  sync();
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) Fail("fork failed");
  if (child == 0) _exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) Fail("wait4 failed");
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

bool Spawn(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (auto& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Run CopyAndSync(const std::string& from, const std::string& to) {
  WarmCache(from);
  unlink(to.c_str());
  return InChild([&] { return Spawn({"cp", from, to}) && Spawn({"sync", to}); });
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Largest(const std::vector<double>& values) {
  return *std::max_element(values.begin(), values.end());
}

void Report(std::size_t mib, const char* operation, const std::vector<Run>& runs,
            const std::vector<Run>& copies) {
  std::vector<double> seconds, rss, copySeconds;
  for (const auto& run : runs) {
    if (!run.ok) Fail(std::string(operation) + " failed");
    seconds.push_back(run.seconds);
    rss.push_back(run.peakRssMiB);
  }
  for (const auto& copy : copies) {
    if (!copy.ok) Fail("cp + sync failed");
    copySeconds.push_back(copy.seconds);
  }
  const double bytes = static_cast<double>(mib * kMiB);
  const double median = Median(seconds);
  const double copyMedian = Median(copySeconds);
  std::printf(
      "%6zu MiB  %-7s %8.3f s %7.2f GB/s   cp+sync %8.3f s %7.2f GB/s   ratio %5.2f"
      "   peak RSS %8.1f MiB (%.3fx size)\n",
      mib, operation, median, bytes / median / 1e9, copyMedian, bytes / copyMedian / 1e9,
      median / copyMedian, Largest(rss), Largest(rss) / static_cast<double>(mib));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = ".";
  int reps = 5;
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else if (arg == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else {
      sizes.push_back(static_cast<std::size_t>(std::strtoull(arg.c_str(), nullptr, 10)));
    }
  }
  if (sizes.empty()) sizes = {64, 512};

  const std::string zip = dir + "/bench.zip";
  const std::string uip = dir + "/bench.uip";
  const std::string copy = dir + "/bench.copy";
  const std::wstring wideZip = uippack::platform::NarrowToWide(zip);
  const std::wstring wideUip = uippack::platform::NarrowToWide(uip);

  for (std::size_t mib : sizes) {
    WriteArchive(zip, mib);
    std::vector<Run> wraps, unwraps, zipCopies, uipCopies;
    // One round more than asked, the first one not counted: it brings the memory that the runs
    // take and give back into use (on a virtual machine, memory touched for the first time
    // costs a fault in the host as well).
    for (int rep = -1; rep < reps; ++rep) {
      if (rep == 0) {
        wraps.clear();
        unwraps.clear();
        zipCopies.clear();
        uipCopies.clear();
      }
      zipCopies.push_back(CopyAndSync(zip, copy));
      WarmCache(zip);
      unlink(uip.c_str());
      wraps.push_back(InChild([&] {
        // A fixed factor keeps runs comparable; every factor scrambles at the same speed.
        return uippack::container::WrapZipToContainer(
                   wideZip, 7, uippack::container::ArchiveAfterWrap::Keep) == 1;
      }));
      uipCopies.push_back(CopyAndSync(uip, copy));
      WarmCache(uip);
      unlink(zip.c_str());
      unwraps.push_back(
          InChild([&] { return uippack::container::UnwrapContainerToZip(wideUip) == 1; }));
    }
    Report(mib, "wrap", wraps, zipCopies);
    Report(mib, "unwrap", unwraps, uipCopies);
    unlink(zip.c_str());
    unlink(uip.c_str());
    unlink(copy.c_str());
  }
  return 0;
}
