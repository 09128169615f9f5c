// Child processes on Windows: CreateProcessW for the awaited tools, WinExec for the detached
// removals, as the tool was designed.
#include <windows.h>

#include <algorithm>

#include <string>
#include <vector>

#include "platform/handle.h"
#include "platform/process.h"

namespace uippack::platform {

RunOutcome RunProcessAndWait(const std::wstring& commandLine) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  // CreateProcessW may write into the command line, so it gets its own writable copy.
  std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
  writable.push_back(L'\0');
  // No application name: the program is the command line's first word. No inherited handles,
  // no creation flags: a console tool shares this console.
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return RunOutcome::StartFailed;
  }
  const OwnedHandle child(process.hProcess);
  const OwnedHandle thread(process.hThread);
  return WaitForSingleObject(child.Get(), INFINITE) == WAIT_OBJECT_0 ? RunOutcome::Completed
                                                                     : RunOutcome::WaitFailed;
}

void StartProcessDetached(const std::string& narrowCommandLine) {
  // WinExec keeps no handle of the child: nothing to wait for or to close.
  WinExec(narrowCommandLine.c_str(), SW_SHOW);
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
