// Runs one command and reports its wall time and peak RSS, for bench/uipcheck_bench.sh.
//
//   measure_run OUTPUT_FILE COMMAND [ARGUMENT...]
//
// The command's standard output and error go to OUTPUT_FILE; one line goes to standard output:
// "exit N wall_seconds S peak_rss_kib K". The peak RSS is the largest of the command's process
// and the children it waited for (wait4's usage).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure_run OUTPUT_FILE COMMAND [ARGUMENT...]\n");
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[2], &actions, nullptr, argv + 2, environ) != 0) {
    std::fprintf(stderr, "measure_run: cannot start %s\n", argv[2]);
    return 2;
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  std::printf("exit %d wall_seconds %.3f peak_rss_kib %ld\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), wall.count(),
              usage.ru_maxrss);
  return 0;
}
