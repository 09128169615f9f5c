#include "package/tool_runner.h"

#include "package/command_templates.h"
#include "platform/console.h"
#include "platform/directory.h"
#include "platform/path.h"
#include "platform/text.h"

namespace uippack {
namespace {

const CommandHooks* commandHooks = nullptr;

}  // namespace

void SetCommandHooksForTesting(const CommandHooks* hooks) { commandHooks = hooks; }

RunOutcome RunCommand(const CommandBuffer& commandLine) {
  if (!commandLine.startable()) return RunOutcome::StartFailed;
  if (commandHooks != nullptr && commandHooks->run) return commandHooks->run(commandLine.text());
  return platform::RunProcessAndWait(commandLine.text());
}

bool RunToolForItem(const CommandBuffer& command, std::wstring_view prefix,
                    const std::wstring& item) {
  switch (RunCommand(command)) {
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

void StartCommand(const CommandBuffer& commandLine) {
  if (!commandLine.startable()) return;
  std::string narrow;
  WideToAnsi(commandLine.text().c_str(), commandLine.text().size(), &narrow);
  // A character the narrow encoding lacks comes out as a stand-in such as "?", which the
  // removal commands would read as a wildcard: such a command is not started at all.
  if (platform::NarrowToWide(narrow) != commandLine.text()) return;
  if (commandHooks != nullptr && commandHooks->start) {
    commandHooks->start(narrow);
    return;
  }
  platform::StartProcessDetached(narrow);
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
#ifdef _WIN32
  for (auto& c : path) {
    if (c == L'/') c = L'\\';
  }
#endif
  const auto separator = path.find_last_of(platform::kPathSeparator);
  if (separator == std::wstring::npos) return {};
  path.resize(separator);
  return path;
}

int CopyTree(const std::wstring& source, const std::wstring& destination) {
#ifdef _WIN32
  const CommandBuffer command(
      templates::kCopyTree, {PathArgument(source), PathArgument(destination + std::wstring(L"\\"))},
      CommandBuffer::kCopyCapacity);
  return RunCommand(command) == RunOutcome::Completed ? 1 : 0;
#else
  // No POSIX copier both follows links and leaves FIFOs and devices out (cp -RL recreates
  // them), so the copy is made in process.
  return platform::CopyTreeFollowingLinks(source, destination) ? 1 : 0;
#endif
}

}  // namespace uippack
