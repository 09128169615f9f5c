// Processes: starting the tools, awaited at once or in the background, and this process's own
// set-up and path.
#pragma once

#include <string>
#include <string_view>

namespace uippack::platform {

enum class RunOutcome {
  Completed,    // the child was started and the wait saw it end
  StartFailed,  // the child was not started
  WaitFailed,   // the child was started but the wait did not report its end
};

// How argument enters a command line as one argument, given back whole by the Windows rules:
// unchanged when it holds only plain characters, otherwise in double quotes (backslashes before
// a quote doubled). When endsInWildcard, its last character is a wildcard meant for the
// program; every other character must reach the program literally. False when no quoting
// makes the argument safe here (on Windows, cmd.exe expands % and cannot quote ").
bool QuoteCommandArgument(std::wstring_view argument, bool endsInWildcard, std::wstring* quoted);
// Whether argument, quoted, reaches the program as it is whatever it holds. Always on POSIX, where
// no shell reads the line. On Windows not when it holds % or " (cmd.exe expands %NAME% even
// inside quotes and cannot quote a quote), or * or ? but a final wildcard (del and rd would take
// them as wildcards; no Windows name holds them, but one seen through Wine may).
bool ReachesProgramLiterally(std::wstring_view argument, bool endsInWildcard);

// Starts commandLine as a child process sharing this console and waits for it without a time
// limit. The command line is one string split into program and arguments by the Windows rules;
// no shell reads it. The child's exit code is not read.
RunOutcome RunProcessAndWait(const std::wstring& commandLine);

// Starts narrowCommandLine (in the system's narrow encoding), sharing this console, and returns
// at once: the child runs alongside whatever this process does next, and is kept until
// WaitForBackgroundProcesses. Ended children do not pile up: a later start lets them go.
void StartBackgroundProcess(const std::string& narrowCommandLine);

// Waits without a time limit for every child StartBackgroundProcess started that has not been
// awaited yet, so that what they do is done when this returns.
void WaitForBackgroundProcesses();

// Set-up before the run. On POSIX a console pipe closed by its reader, or a file size limit
// reached by a container write, then makes the write fail with an error instead of ending the
// process midway; the tools inherit this (7-Zip then finishes its archive). Nothing on Windows.
void PrepareProcess();

// The full path of the running executable; false when it cannot be had or is longer than the
// platform allows.
bool GetExecutablePath(std::wstring* path);

}  // namespace uippack::platform
