// Child processes on Windows, all started with CreateProcessW: the tools awaited at once, the
// removals in the background and awaited before the run ends.
#include <windows.h>

#include <algorithm>

#include <string>
#include <utility>
#include <vector>

#include "platform/handle.h"
#include "platform/process.h"
#include "platform/text.h"

namespace uippack::platform {
namespace {

// Starts commandLine; the child's process handle, not open when it could not be started. With
// shown, the child gets the show state that WinExec(..., SW_SHOW) would hand on.
OwnedHandle StartChild(const std::wstring& commandLine, bool shown) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  if (shown) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
  }
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  // CreateProcessW may write into the command line, so it gets its own writable copy.
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  // No application name: the program is the command line's first word. No inherited handles,
  // no creation flags: a console tool shares this console.
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return {};
  }
  const OwnedHandle thread(process.hThread);
  return OwnedHandle(process.hProcess);
}

// Background children not awaited yet.
std::vector<OwnedHandle>& PendingBackground() {
  static std::vector<OwnedHandle> pending;
  return pending;
}

}  // namespace

bool ReachesProgramLiterally(std::wstring_view argument, bool endsInWildcard) {
  if (endsInWildcard && !argument.empty()) argument.remove_suffix(1);
  return argument.find_first_of(L"%\"*?") == std::wstring_view::npos;
}

RunOutcome RunProcessAndWait(const std::wstring& commandLine) {
  const OwnedHandle child = StartChild(commandLine, false);
  if (!child.IsOpen()) return RunOutcome::StartFailed;
  return WaitForSingleObject(child.Get(), INFINITE) == WAIT_OBJECT_0 ? RunOutcome::Completed
                                                                     : RunOutcome::WaitFailed;
}

void StartBackgroundProcess(const std::string& narrowCommandLine) {
  // Ended children are let go, so the handles held stay few however many are started.
  std::erase_if(PendingBackground(), [](const OwnedHandle& child) {
    return WaitForSingleObject(child.Get(), 0) != WAIT_TIMEOUT;
  });
  // The command line and show state WinExec would use, with a handle kept to wait on.
  OwnedHandle child = StartChild(NarrowToWide(narrowCommandLine), true);
  if (child.IsOpen()) PendingBackground().push_back(std::move(child));
}

void WaitForBackgroundProcesses() {
  for (const OwnedHandle& child : PendingBackground()) WaitForSingleObject(child.Get(), INFINITE);
  PendingBackground().clear();
}

void PrepareProcess() {}

bool GetExecutablePath(std::wstring* path) {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  // A full buffer means the path was cut.
  if (length == 0 || length >= MAX_PATH) return false;
  path->assign(buffer, length);
  // A program started by a path with forward slashes may be told its name that way.
  std::replace(path->begin(), path->end(), L'/', L'\\');
  return true;
}

}  // namespace uippack::platform
