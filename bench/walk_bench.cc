// The destination walks alone, next to find(1) over the same tree.
//
//   walk_bench TREE [REPS]
//
// Times CollectPackItems and CollectUnpackItems over TREE (each on a fresh builder, with the
// found-markers cleared) and `find TREE` with its output to /dev/null, REPS times each after
// one untimed pass of each that warms the cache. Reports the median and the best of each, and
// the ratios of the medians.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "package/package_builder.h"
#include "platform/text.h"

extern char** environ;

namespace {

double TimeOnce(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Timing {
  double median = 0;
  double best = 0;
};

Timing Measure(int reps, const std::function<void()>& work) {
  work();  // warm-up
  std::vector<double> seconds;
  for (int i = 0; i < reps; ++i) seconds.push_back(TimeOnce(work));
  std::sort(seconds.begin(), seconds.end());
  return {seconds[seconds.size() / 2], seconds.front()};
}

void RunFind(const std::string& tree) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  std::string program = "find";
  std::string root = tree;
  char* argv[] = {program.data(), root.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "find", &actions, nullptr, argv, environ) != 0) {
    std::fprintf(stderr, "walk_bench: cannot start find\n");
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: walk_bench TREE [REPS]\n");
    return 2;
  }
  const std::string tree = argv[1];
  const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::wstring root = uippack::platform::NarrowToWide(tree);

  std::size_t scripts = 0, layouts = 0, resources = 0, zips = 0, containers = 0;
  const Timing pack = Measure(reps, [&] {
    uippack::PackageBuilder builder;
    if (builder.CollectPackItems(root) != 1) std::fprintf(stderr, "walk_bench: no scripts\n");
    scripts = builder.scriptFiles.size();
    layouts = builder.layoutDirs.size();
    resources = builder.resourceDirs.size();
  });
  const Timing unpack = Measure(reps, [&] {
    uippack::PackageBuilder builder;
    if (builder.CollectUnpackItems(root) != 1) std::fprintf(stderr, "walk_bench: no archives\n");
    zips = builder.zipFiles.size();
    containers = builder.containerFiles.size();
  });
  const Timing find = Measure(reps, [&] { RunFind(tree); });

  std::printf("walks over %s (median of %d, best in brackets)\n", tree.c_str(), reps);
  std::printf("  CollectPackItems    %7.3f s (%.3f)  %zu scripts, %zu layout, %zu res\n",
              pack.median, pack.best, scripts, layouts, resources);
  std::printf("  CollectUnpackItems  %7.3f s (%.3f)  %zu containers, %zu zips\n", unpack.median,
              unpack.best, containers, zips);
  std::printf("  find                %7.3f s (%.3f)\n", find.median, find.best);
  std::printf("  ratio to find: pack %.2f, unpack %.2f (target <= 1.5)\n",
              pack.median / find.median, unpack.median / find.median);
  return 0;
}
