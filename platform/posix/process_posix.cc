// Child processes without a shell: the command line is split by the Windows rules and the
// program is started directly, so nothing in a path is ever interpreted.
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "platform/platform.h"
#include "platform/posix/command_line_split.h"

extern char** environ;

namespace uippack::platform {
namespace {

// argv storage that outlives the pointers handed to exec.
class ArgumentVector {
 public:
  explicit ArgumentVector(std::string_view commandLine) : arguments_(SplitCommandLine(commandLine)) {
    for (auto& argument : arguments_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
  }
  bool HasProgram() const { return !arguments_.empty() && !arguments_[0].empty(); }
  char* const* argv() { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
};

bool WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) || WIFSIGNALED(status);
}

}  // namespace

RunOutcome RunProcessAndWait(const std::wstring& commandLine) {
  ArgumentVector arguments(WideToNarrow(commandLine));
  if (!arguments.HasProgram()) return RunOutcome::StartFailed;
  pid_t pid = 0;
  // glibc's posix_spawnp reports a failed exec as its result, so a missing tool is a start
  // failure and not a child that exits with 127.
  if (posix_spawnp(&pid, arguments.argv()[0], nullptr, nullptr, arguments.argv(), environ) != 0) {
    return RunOutcome::StartFailed;
  }
  return WaitForExit(pid) ? RunOutcome::Completed : RunOutcome::WaitFailed;
}

void StartProcessDetached(const std::string& narrowCommandLine) {
  ArgumentVector arguments(narrowCommandLine);
  if (!arguments.HasProgram()) return;
  // Two forks: the intermediate child starts the command and exits at once, so the command is
  // adopted by init, never becomes our zombie, and may outlive this process.
  const pid_t intermediate = fork();
  if (intermediate < 0) return;
  if (intermediate == 0) {
    pid_t detached = 0;
    posix_spawnp(&detached, arguments.argv()[0], nullptr, nullptr, arguments.argv(), environ);
    _exit(0);
  }
  WaitForExit(intermediate);
}

bool GetExecutablePath(std::wstring* path) {
#if defined(__APPLE__)
  char raw[PATH_MAX];
  uint32_t size = sizeof raw;
  if (_NSGetExecutablePath(raw, &size) != 0) return false;
  char resolved[PATH_MAX];
  if (realpath(raw, resolved) == nullptr) return false;
  *path = NarrowToWide(resolved);
  return true;
#else
  std::string buffer(PATH_MAX, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return false;
  buffer.resize(static_cast<std::size_t>(length));
  *path = NarrowToWide(buffer);
  return true;
#endif
}

}  // namespace uippack::platform
