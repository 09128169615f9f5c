// Checks of the Win32 layer that the end-to-end runs do not reach: the listing's first entry and
// links, share mode 0, no look-alike narrow text, paths, how a run ends, background starts
// awaited together, the user's own log folder and its lock. Runs on Windows or under Wine; no
// test framework is built for this target, so it prints one line per failed check and exits 1.
// The optional argument is a directory holding "real", a directory, and "link", a symbolic link
// to it (Wine cannot make one through CreateSymbolicLinkW).
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/named_lock.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/shared_directory.h"
#include "platform/text.h"

using namespace uippack::platform;

static int gFailures = 0;
#define CHECK(c) (void)((c) || (std::printf("FAILED line %d: %s\n", __LINE__, #c), ++gFailures))

// Every name the listing gives, a directory's with "/" after it, sorted; FindFirstFileW's own
// entry must not be lost, and the end must stay the end. "-" when it cannot be opened.
static std::wstring Listing(const std::wstring& directory) {
  DirectoryListing listing;
  DirectoryEntry entry;
  std::set<std::wstring> names;
  if (!listing.Open(directory)) return L"-";
  while (listing.Next(&entry)) names.insert(entry.name + (entry.isDirectory ? L"/" : L""));
  std::wstring all = listing.Next(&entry) ? L"more after the end" : L"";
  for (const std::wstring& name : names) all += name + L" ";
  return all;
}

int wmain(int argc, wchar_t** argv) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = temp + (L"uippack-layer-" + std::to_wstring(GetCurrentProcessId()));
  const std::wstring held = root + L"\\held.bin";
  CHECK(CreateDirectoryW(root.c_str(), nullptr) &&
        CreateDirectoryW((root + L"\\sub").c_str(), nullptr));
  CHECK(ExclusiveFile::CreateForWriting(held).Write("older, longer", 13));
  CHECK(Listing(root) == L"../ ./ held.bin sub/ ");
  CHECK(Listing(root + L"\\no-such") == L"-" && Listing(held) == L"-");
  if (argc > 1) CHECK(Listing(argv[1]) == L"../ ./ link real/ ");

  ExclusiveFile file;
  file = ExclusiveFile::CreateForWriting(held);  // moved in: the share mode goes with it
  CHECK(file.Write("content", 7) && file.Flush());
  CHECK(!ExclusiveFile::OpenForReading(held).IsOpen() &&
        !ExclusiveFile::CreateForWriting(held).IsOpen() && !DeleteFileAt(held));
  file.Close();
  file = ExclusiveFile::OpenForReading(held);
  std::uint64_t size = 0;
  std::string back(7, '\0');
  // Replaced, not appended to; past the end is a failure, not a short read.
  CHECK(file.GetSize(&size) && size == 7 && file.Read(back.data(), 7) && back == "content" &&
        !file.Read(back.data(), 1));
  CHECK(!ExclusiveFile::OpenForReading(held).IsOpen() && !DeleteFileAt(held));
  file.Close();
  CHECK(DeleteFileAt(held) && !DeleteFileAt(held) && !ExclusiveFile::OpenForReading(root).IsOpen());

  // Fullwidth full stops and reverse solidus: best-fit mapping would make them "..\".
  CHECK(WideToNarrow(L"\xFF0E\xFF0E\xFF3Cx").find("..\\") == std::string::npos);
  CHECK(NarrowToWide(WideToNarrow(L"C:\\a path\\a&b")) == L"C:\\a path\\a&b");

  CHECK(AbsolutePath(L"C:\\a\\.\\b") == L"C:\\a\\b");
  // The existing part is resolved, the missing tail kept as given.
  CHECK(CanonicalPath(root + L"\\missing\\tail").ends_with(L"\\missing\\tail"));
  CHECK(CanonicalPath(root + L"\\") == CanonicalPath(root) && CanonicalPath(L"C:\\") == L"C:\\");
  std::wstring executable;
  CHECK(GetExecutablePath(&executable) && executable.ends_with(L"\\win32_layer_test.exe"));

  CHECK(RunProcessAndWait(L"cmd.exe /c exit 3") == RunOutcome::Completed);
  CHECK(RunProcessAndWait(L"uippack-no-such-program.exe") == RunOutcome::StartFailed);
  CHECK(RunProcessAndWait(L"") == RunOutcome::StartFailed);

  // Their work is done once the wait returns, however slowly cmd.exe starts.
  std::wstring made;
  for (int i = 0; i < 8; ++i) {
    const std::wstring name = L"bg" + std::to_wstring(i);
    StartBackgroundProcess(WideToNarrow(L"cmd.exe /c mkdir \"" + root + L"\\" + name + L"\""));
    made += name + L"/ ";
  }
  WaitForBackgroundProcesses();
  CHECK(Listing(root) == L"../ ./ " + made + L"sub/ ");

  // A user's own log folder is made level by level; its lock is held by one handle at a time,
  // and given up when its holder goes.
  HeldDirectory own;
  CHECK(own.OpenPrivate(root + L"\\own\\state\\RUNTRAIL\\"));
  {
    FileLock first, second;
    CHECK(first.Acquire(own, L"lock", 0) && !second.Acquire(own, L"lock", 50));
  }
  CHECK(FileLock().Acquire(own, L"lock", 0));

  RunProcessAndWait(L"cmd.exe /c rd /s /q \"" + root + L"\"");
  std::printf("%s\n", gFailures == 0 ? "all checks passed" : "some checks failed");
  return gFailures == 0 ? 0 : 1;
}
