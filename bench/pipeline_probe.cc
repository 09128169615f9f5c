// A measuring shim loaded into uippack with LD_PRELOAD by bench/pipeline_bench.sh.
//
// It wraps posix_spawnp, waitpid, fork and fsync to learn, from the real run and without
// changing it:
// - every command uippack starts, in order, as one shell-quoted line tagged "run" when uippack
//   waited for it before starting the next, "start" when it did not (a detached removal),
//   written to $UIPPACK_PROBE_COMMANDS, from which the bench builds the bare command script;
// - the wall time from each awaited spawn to the end of its wait, per tool;
// - parts of uippack's own time: everything before the first tool starts (the tree copy, made in
//   process, and the walk), spawning the detached removals, forks, other waits, fsync;
// and, when uippack exits, its own CPU time and peak RSS (RUSAGE_SELF) next to its reaped
// children's CPU (RUSAGE_CHILDREN), written to $UIPPACK_PROBE_REPORT as "key value" lines.
//
// Only a process named uippack takes the probe; it removes LD_PRELOAD from its environment so
// the tools it starts run without it.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

using SpawnFunction = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                              const posix_spawnattr_t*, char* const[], char* const[]);
using WaitFunction = pid_t (*)(pid_t, int*, int);
using ForkFunction = pid_t (*)();
using SyncFunction = int (*)(int);

// The last command started; whether uippack waited for it is known once it has.
struct Spawned {
  pid_t pid = 0;
  double startedAt = 0;
  double spawnSeconds = 0;  // inside posix_spawnp
  std::string tool;
  std::string line;     // the shell-quoted command
  bool forked = false;  // started from a forked child, never awaited by uippack
  bool awaited = false;
};

// Made on the heap by the constructor and never freed: no global with a constructor or a
// destructor whose order against ours would matter.
struct Probe {
  pid_t mainProcess = 0;
  double startedAt = 0;
  bool anyToolStarted = false;
  std::string reportPath;
  int commandLog = -1;
  bool hasLast = false;
  Spawned last;
  std::map<std::string, std::pair<double, long>> toolSeconds;  // tool -> (seconds, runs)
  std::map<std::string, std::pair<double, long>> ownSeconds;   // what -> (seconds, calls)
};
Probe* probe = nullptr;

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string ShellQuote(const char* argument) {
  std::string quoted = "'";
  for (const char* c = argument; *c != '\0'; ++c) {
    if (*c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += *c;
    }
  }
  return quoted + "'";
}

std::string BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

std::string QuotedCommand(char* const argv[]) {
  std::string line;
  for (int i = 0; argv[i] != nullptr; ++i) {
    if (i > 0) line += ' ';
    line += ShellQuote(argv[i]);
  }
  return line;
}

void Add(std::map<std::string, std::pair<double, long>>* table, const std::string& what,
         double seconds) {
  auto& entry = (*table)[what];
  entry.first += seconds;
  entry.second += 1;
}

void AddOwn(const char* what, double startedAt) {
  Add(&probe->ownSeconds, what, Now() - startedAt);
}

// Logs the last command once it is known whether it was awaited.
void SettleLast() {
  if (!probe->hasLast) return;
  probe->hasLast = false;
  const Spawned& last = probe->last;
  if (!last.awaited && !last.forked) Add(&probe->ownSeconds, "detached_spawn", last.spawnSeconds);
  if (probe->commandLog < 0) return;
  const std::string line = std::string(last.awaited ? "run" : "start") + "\t" + last.line + "\n";
  // One write per line on an O_APPEND descriptor, so lines of several processes never mix.
  if (write(probe->commandLog, line.data(), line.size()) < 0) {
  }
}

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

__attribute__((constructor)) void Start() {
  const char* report = std::getenv("UIPPACK_PROBE_REPORT");
  if (report == nullptr || std::strcmp(program_invocation_short_name, "uippack") != 0) return;
  probe = new Probe;
  probe->mainProcess = getpid();
  probe->startedAt = Now();
  probe->reportPath = report;
  if (const char* commands = std::getenv("UIPPACK_PROBE_COMMANDS")) {
    probe->commandLog = open(commands, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }
  unsetenv("LD_PRELOAD");
  unsetenv("UIPPACK_PROBE_REPORT");
  unsetenv("UIPPACK_PROBE_COMMANDS");
}

__attribute__((destructor)) void Finish() {
  if (probe == nullptr || getpid() != probe->mainProcess) return;
  SettleLast();
  rusage self{};
  rusage children{};
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  FILE* out = std::fopen(probe->reportPath.c_str(), "w");
  if (out == nullptr) return;
  double awaited = 0;
  long runs = 0;
  for (const auto& [tool, entry] : probe->toolSeconds) {
    std::fprintf(out, "tool_%s_seconds %.6f\ntool_%s_runs %ld\n", tool.c_str(), entry.first,
                 tool.c_str(), entry.second);
    awaited += entry.first;
    runs += entry.second;
  }
  std::fprintf(out, "children_wall_seconds %.6f\nchildren_runs %ld\n", awaited, runs);
  for (const auto& [what, entry] : probe->ownSeconds) {
    std::fprintf(out, "own_%s_seconds %.6f\nown_%s_calls %ld\n", what.c_str(), entry.first,
                 what.c_str(), entry.second);
  }
  std::fprintf(out, "self_user_seconds %.6f\nself_system_seconds %.6f\n", Seconds(self.ru_utime),
               Seconds(self.ru_stime));
  std::fprintf(out, "children_user_seconds %.6f\nchildren_system_seconds %.6f\n",
               Seconds(children.ru_utime), Seconds(children.ru_stime));
  std::fprintf(out, "self_peak_rss_kib %ld\n", self.ru_maxrss);
  std::fclose(out);
}

}  // namespace

extern "C" int posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                            const posix_spawnattr_t* attributes, char* const argv[],
                            char* const envp[]) {
  static const auto real = reinterpret_cast<SpawnFunction>(dlsym(RTLD_NEXT, "posix_spawnp"));
  if (probe == nullptr) return real(pid, file, actions, attributes, argv, envp);
  SettleLast();
  const double startedAt = Now();
  if (!probe->anyToolStarted && getpid() == probe->mainProcess) {
    probe->anyToolStarted = true;
    Add(&probe->ownSeconds, "before_first_tool", startedAt - probe->startedAt);
  }
  const int result = real(pid, file, actions, attributes, argv, envp);
  if (result == 0) {
    probe->last = {*pid,           startedAt,           Now() - startedAt,
                   BaseName(file), QuotedCommand(argv), getpid() != probe->mainProcess,
                   false};
    probe->hasLast = true;
    if (probe->last.forked) SettleLast();  // the forked child is gone before uippack can wait
  }
  return result;
}

extern "C" pid_t waitpid(pid_t pid, int* status, int options) {
  static const auto real = reinterpret_cast<WaitFunction>(dlsym(RTLD_NEXT, "waitpid"));
  const double startedAt = Now();
  const pid_t result = real(pid, status, options);
  if (probe == nullptr) return result;
  if (probe->hasLast && pid == probe->last.pid && (options & WNOHANG) == 0 && result == pid) {
    probe->last.awaited = true;
    Add(&probe->toolSeconds, probe->last.tool, Now() - probe->last.startedAt);
  } else {
    AddOwn("other_wait", startedAt);
  }
  return result;
}

extern "C" pid_t fork() {
  static const auto real = reinterpret_cast<ForkFunction>(dlsym(RTLD_NEXT, "fork"));
  const double startedAt = Now();
  const pid_t result = real();
  if (probe != nullptr && result == 0) probe->hasLast = false;  // the parent logs its own
  if (probe != nullptr && result > 0) AddOwn("fork", startedAt);
  return result;
}

extern "C" int fsync(int fd) {
  static const auto real = reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, "fsync"));
  const double startedAt = Now();
  const int result = real(fd);
  if (probe != nullptr) AddOwn("fsync", startedAt);
  return result;
}
