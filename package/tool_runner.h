// Starting the external tools: awaited runs, removals in the background, and where the tools
// live.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "package/command_line.h"
#include "platform/process.h"

namespace uippack {

using platform::RunOutcome;

// What starts the tools. The pipelines are handed one, so a test can answer the commands
// instead of starting processes.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // Starts the command line and waits for its end without a time limit.
  virtual RunOutcome Run(const std::wstring& commandLine) = 0;
  // Starts the command line, in the system's narrow encoding, and goes on at once; the runner
  // keeps track of it.
  virtual void Start(const std::string& narrowCommandLine) = 0;
  // Waits without a time limit for every command Start started that has not ended yet.
  virtual void WaitForStarted() = 0;
};

// The runner that starts real processes.
CommandRunner& SystemCommandRunner();

// Waits for every command the runner started when it goes, on every way out of a run: the
// destination is final when the run ends, after success or failure.
class StartedCommandsAwaited {
 public:
  explicit StartedCommandsAwaited(CommandRunner& runner) : runner_(runner) {}
  ~StartedCommandsAwaited() { runner_.WaitForStarted(); }
  StartedCommandsAwaited(const StartedCommandsAwaited&) = delete;
  StartedCommandsAwaited& operator=(const StartedCommandsAwaited&) = delete;

 private:
  CommandRunner& runner_;
};

// Starts the command and waits for its end. A command that cannot be started safely (too
// long, an unsafe path, no tool directory) is a start failure.
RunOutcome RunCommand(CommandRunner& runner, const CommandBuffer& commandLine);

// Runs one tool for one item of a pipeline step and prints the item's failure line (prefix,
// item, reason) when the tool did not run to its end. True when the step may go on.
bool RunToolForItem(CommandRunner& runner, const CommandBuffer& command, std::wstring_view prefix,
                    const std::wstring& item);

// Starts the command and goes on at once: it runs alongside the following steps until the
// runner's WaitForStarted.
void StartCommand(CommandRunner& runner, const CommandBuffer& commandLine);

// The command line in the system's narrow encoding, as a start in the background hands it on.
void WideToAnsi(const wchar_t* text, std::size_t length, std::string* out);

// The directory of the running executable, without a trailing separator; empty when it
// cannot be had.
std::wstring GetToolDirectory();

// Copies the source tree into the destination (creating it, or merging into it) with the copy
// command. The pipelines copy through a TreeCopier (tree_copier.h), which runs this where the
// system has a copy command.
int CopyTree(CommandRunner& runner, const std::wstring& source, const std::wstring& destination);

}  // namespace uippack
