// Checks of the Win32 layer that the end-to-end runs do not reach: share mode 0, the listing's
// first entry, the narrow conversion, the process calls. Runs on Windows or under Wine; no test
// framework is built for this target, so it prints one line per failed check and exits 1.
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/directory.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform = uippack::platform;

namespace {

int gFailures = 0;

void Check(bool condition, const char* what, int line) {
  if (condition) return;
  std::printf("FAILED line %d: %s\n", line, what);
  ++gFailures;
}
#define CHECK(condition) Check((condition), #condition, __LINE__)

std::wstring MakeScratchDirectory() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring directory =
      std::wstring(temp) + L"uippack-layer-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(directory.c_str(), nullptr);
  return directory;
}

void WriteTextFile(const std::wstring& path, const std::string& content) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ListingReportsEveryEntryFromTheFirst(const std::wstring& root) {
  const std::wstring directory = root + L"\\listing";
  CreateDirectoryW(directory.c_str(), nullptr);
  CreateDirectoryW((directory + L"\\sub").c_str(), nullptr);
  WriteTextFile(directory + L"\\file.txt", "x");

  platform::DirectoryListing listing;
  CHECK(listing.Open(directory));
  std::vector<platform::DirectoryEntry> entries;
  platform::DirectoryEntry entry;
  while (listing.Next(&entry)) entries.push_back(entry);
  // ".", "..", the file and the subdirectory; FindFirstFileW's own entry must not be lost.
  CHECK(entries.size() == 4);
  int found = 0;
  for (const auto& e : entries) {
    if (e.name == L"." || e.name == L"..") found += e.isDirectory ? 1 : 100;
    if (e.name == L"sub") found += e.isDirectory ? 10 : 100;
    if (e.name == L"file.txt") found += e.isDirectory ? 100 : 1000;
  }
  CHECK(found == 1012);
  CHECK(!listing.Next(&entry));  // stays at the end

  platform::DirectoryListing missing;
  CHECK(!missing.Open(directory + L"\\no-such"));
  CHECK(!missing.Next(&entry));
  platform::DirectoryListing ofFile;
  CHECK(!ofFile.Open(directory + L"\\file.txt"));
}

// linksDirectory holds "real", a directory, and "link", a symbolic link to it, made by the
// caller (Wine cannot make one through CreateSymbolicLinkW).
void LinksAreNotDirectories(const std::wstring& linksDirectory) {
  platform::DirectoryListing listing;
  CHECK(listing.Open(linksDirectory));
  platform::DirectoryEntry entry;
  int seen = 0;
  while (listing.Next(&entry)) {
    if (entry.name == L"real") seen += entry.isDirectory ? 1 : 100;
    if (entry.name == L"link") seen += entry.isDirectory ? 100 : 10;
  }
  CHECK(seen == 11);
}

void ExclusiveFileKeepsEveryOtherOpenerOut(const std::wstring& root) {
  const std::wstring path = root + L"\\held.bin";
  WriteTextFile(path, "content");
  {
    platform::ExclusiveFile reader = platform::ExclusiveFile::OpenForReading(path);
    CHECK(reader.IsOpen());
    CHECK(!platform::ExclusiveFile::OpenForReading(path).IsOpen());
    CHECK(!platform::ExclusiveFile::CreateForWriting(path).IsOpen());
    CHECK(!platform::DeleteFileAt(path));
    std::uint64_t size = 0;
    CHECK(reader.GetSize(&size) && size == 7);
    std::string back(7, '\0');
    CHECK(reader.Read(back.data(), back.size()));
    CHECK(back == "content");
    char more = 0;
    CHECK(!reader.Read(&more, 1));  // past the end is a failure, not a short read
  }
  {
    platform::ExclusiveFile writer = platform::ExclusiveFile::CreateForWriting(path);
    CHECK(writer.IsOpen());
    std::uint64_t size = 1;
    CHECK(writer.GetSize(&size) && size == 0);  // replaced, not appended to
    const std::string data(70000, 'z');
    CHECK(writer.Write(data.data(), data.size()));
    CHECK(writer.Flush());
    platform::ExclusiveFile moved = std::move(writer);
    CHECK(!writer.IsOpen());
    CHECK(moved.IsOpen());
    CHECK(!platform::ExclusiveFile::OpenForReading(path).IsOpen());
  }
  platform::ExclusiveFile again = platform::ExclusiveFile::OpenForReading(path);
  std::uint64_t size = 0;
  CHECK(again.GetSize(&size) && size == 70000);
  again.Close();
  CHECK(!platform::ExclusiveFile::OpenForReading(root).IsOpen());  // a directory
  CHECK(platform::DeleteFileAt(path));
  CHECK(!Exists(path));
  CHECK(!platform::DeleteFileAt(path));
}

void NarrowTextNeverBecomesALookAlike() {
  // Fullwidth full stops and reverse solidus: best-fit mapping would make them "..\".
  const std::string narrow = platform::WideToNarrow(L"\xFF0E\xFF0E\xFF3Cx");
  CHECK(narrow.find("..\\") == std::string::npos);
  CHECK(platform::WideToNarrow(L"C:\\plain path\\a&b") == "C:\\plain path\\a&b");
  CHECK(platform::NarrowToWide("C:\\plain path\\a&b") == L"C:\\plain path\\a&b");
  CHECK(platform::WideToNarrow(L"").empty());
}

void PathsResolve(const std::wstring& root) {
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  std::wstring expected = current;
  if (expected.back() != L'\\') expected.push_back(L'\\');
  CHECK(platform::AbsolutePath(L"rel\\x") == expected + L"rel\\x");
  CHECK(platform::AbsolutePath(L"C:\\a\\.\\b") == L"C:\\a\\b");

  // The existing part is resolved, the missing tail kept as given.
  const std::wstring canonical = platform::CanonicalPath(root + L"\\missing\\tail");
  const std::wstring suffix = L"\\missing\\tail";
  CHECK(canonical.size() > suffix.size() &&
        canonical.compare(canonical.size() - suffix.size(), suffix.size(), suffix) == 0);
  CHECK(platform::CanonicalPath(root + L"\\") == platform::CanonicalPath(root));
  CHECK(platform::CanonicalPath(L"C:\\") == L"C:\\");

  std::wstring executable;
  CHECK(platform::GetExecutablePath(&executable));
  const std::wstring name = L"win32_layer_test.exe";
  CHECK(executable.size() > name.size() &&
        _wcsicmp(executable.c_str() + executable.size() - name.size(), name.c_str()) == 0);
}

void ProcessesStartAndEnd(const std::wstring& root) {
  CHECK(platform::RunProcessAndWait(L"cmd.exe /c exit 3") == platform::RunOutcome::Completed);
  CHECK(platform::RunProcessAndWait(L"uippack-no-such-program.exe") ==
        platform::RunOutcome::StartFailed);
  CHECK(platform::RunProcessAndWait(L"") == platform::RunOutcome::StartFailed);

  // A detached start goes on without us.
  const std::string narrowRoot = platform::WideToNarrow(root);
  platform::StartProcessDetached("cmd.exe /c mkdir \"" + narrowRoot + "\\started\"");
  const std::wstring started = root + L"\\started";
  for (int i = 0; i < 300 && !Exists(started); ++i) Sleep(100);
  CHECK(Exists(started));
}

}  // namespace

// The optional argument is a directory prepared for LinksAreNotDirectories.
int wmain(int argc, wchar_t** argv) {
  const std::wstring root = MakeScratchDirectory();
  ListingReportsEveryEntryFromTheFirst(root);
  if (argc > 1) LinksAreNotDirectories(argv[1]);
  ExclusiveFileKeepsEveryOtherOpenerOut(root);
  NarrowTextNeverBecomesALookAlike();
  PathsResolve(root);
  ProcessesStartAndEnd(root);
  platform::RunProcessAndWait(L"cmd.exe /c rd /s /q \"" + root + L"\"");
  std::printf("%s\n", gFailures == 0 ? "all checks passed" : "some checks failed");
  return gFailures == 0 ? 0 : 1;
}
