#include "package/tool_runner.h"

#include "package/command_templates.h"
#include "platform/console.h"
#include "platform/path.h"
#include "platform/text.h"

namespace uippack {
namespace {

class SystemRunner final : public CommandRunner {
 public:
  RunOutcome Run(const std::wstring& commandLine) override {
    return platform::RunProcessAndWait(commandLine);
  }
  void Start(const std::string& narrowCommandLine) override {
    platform::StartBackgroundProcess(narrowCommandLine);
  }
  void WaitForStarted() override { platform::WaitForBackgroundProcesses(); }
};

}  // namespace

CommandRunner& SystemCommandRunner() {
  static SystemRunner runner;
  return runner;
}

RunOutcome RunCommand(CommandRunner& runner, const CommandBuffer& commandLine) {
  if (!commandLine.startable()) return RunOutcome::StartFailed;
  return runner.Run(commandLine.text());
}

bool RunToolForItem(CommandRunner& runner, const CommandBuffer& command, std::wstring_view prefix,
                    const std::wstring& item) {
  switch (RunCommand(runner, command)) {
    case RunOutcome::Completed:
      return true;
    case RunOutcome::StartFailed:
      platform::WriteConsoleLine(std::wstring(prefix) + item +
                                 L" failed, CreateProcess failed!,cmdline = " + command.text());
      return false;
    case RunOutcome::WaitFailed:
      platform::WriteConsoleLine(std::wstring(prefix) + item +
                                 L" failed, WaitForSingleObject failed!");
      return false;
  }
  return false;
}

void StartCommand(CommandRunner& runner, const CommandBuffer& commandLine) {
  if (!commandLine.startable()) return;
  std::string narrow;
  WideToAnsi(commandLine.text().c_str(), commandLine.text().size(), &narrow);
  // A character the narrow encoding lacks comes out as a stand-in such as "?", which the
  // removal commands would read as a wildcard: such a command is not started at all.
  if (platform::NarrowToWide(narrow) != commandLine.text()) return;
  runner.Start(narrow);
}

void WideToAnsi(const wchar_t* text, std::size_t length, std::string* out) {
  if (text == nullptr || length == 0) {
    out->clear();
    return;
  }
  *out = platform::WideToNarrow(std::wstring_view(text, length));
}

std::wstring GetToolDirectory() {
  std::wstring path;
  if (!platform::GetExecutablePath(&path)) return {};
  const std::wstring_view name = platform::FileNameOf(path);
  if (name.size() == path.size()) return {};
  path.resize(path.size() - name.size() - 1);
  return path;
}

int CopyTree(CommandRunner& runner, const std::wstring& source, const std::wstring& destination) {
  const CommandBuffer command(
      templates::kCopyTree, {PathArgument(source), PathArgument(destination + std::wstring(L"\\"))},
      CommandBuffer::kCopyCapacity);
  return RunCommand(runner, command) == RunOutcome::Completed ? 1 : 0;
}

}  // namespace uippack
