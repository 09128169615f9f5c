// Child processes without a shell: the command line is split by the Windows rules and the
// program is started directly, so nothing in a path is ever interpreted.
#include <climits>
#include <csignal>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "platform/posix/command_line_split.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace uippack::platform {
namespace {

// argv storage that outlives the pointers handed to exec.
class ArgumentVector {
 public:
  explicit ArgumentVector(std::string_view commandLine)
      : arguments_(SplitCommandLine(commandLine)) {
    for (auto& argument : arguments_) pointers_.push_back(argument.data());
    pointers_.push_back(nullptr);
  }
  bool HasProgram() const { return !arguments_.empty() && !arguments_[0].empty(); }
  char* const* argv() { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
};

// Background children not reaped yet.
std::vector<pid_t>& PendingBackground() {
  static std::vector<pid_t> pending;
  return pending;
}

// Reaps the background children that have ended, without waiting for the others.
void ReapEndedBackground() {
  std::erase_if(PendingBackground(), [](pid_t pid) {
    // Ended and reaped, or not ours to wait for any more.
    return waitpid(pid, nullptr, WNOHANG) != 0;
  });
}

// Without WUNTRACED, waitpid reports a child only once it has ended.
bool WaitForExit(pid_t pid) { return waitpid(pid, nullptr, 0) == pid; }

}  // namespace

bool ReachesProgramLiterally(std::wstring_view, bool) { return true; }

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

void StartBackgroundProcess(const std::string& narrowCommandLine) {
  ArgumentVector arguments(narrowCommandLine);
  if (!arguments.HasProgram()) return;
  ReapEndedBackground();
  // Spawned directly, like the awaited tools, and not through an intermediate fork: a fork
  // copies this process's page tables and then faults on every page written afterwards, which
  // on a virtual machine cost more than all the rest of the run's own work.
  pid_t pid = 0;
  if (posix_spawnp(&pid, arguments.argv()[0], nullptr, nullptr, arguments.argv(), environ) == 0) {
    PendingBackground().push_back(pid);
  }
}

void WaitForBackgroundProcesses() {
  for (const pid_t pid : PendingBackground()) WaitForExit(pid);
  PendingBackground().clear();
}

void PrepareProcess() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
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
