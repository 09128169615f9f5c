// The unpack run: copy the shipped tree, then turn its containers and archives back into
// directories, in the copy only.
#include <string>

#include "package/command_templates.h"
#include "package/consumed_paths.h"
#include "package/notes.h"
#include "package/package_builder.h"
#include "package/tool_runner.h"
#include "package/tree_copier.h"
#include "package/tree_overlap.h"
#include "platform/console.h"
#include "platform/directory.h"
#include "platform/path.h"
#include "platform/text.h"

namespace uippack {
namespace {

// An archive is only extracted into a directory of its own inside the copy: its name without
// ".zip" must be a real name (not "", "." or "..", which would put its content beside it or
// above it), and what stands there must be nothing yet or a real directory, never a link the
// archiver would write through. Says why not on standard error.
bool IsSafeToExtract(const std::wstring& archive, const std::wstring& target) {
  const std::wstring_view name = platform::FileNameOf(target);
  const char* why = nullptr;
  if (name.empty() || name == L"." || name == L"..") {
    why = "its name without \".zip\" names no directory of its own";
  } else if (const platform::PathKind kind = platform::GetPathKind(target);
             kind != platform::PathKind::Missing && kind != platform::PathKind::Directory) {
    why = "what stands at its target is not a directory";
  }
  if (why == nullptr) return true;
  WriteNote(L"left " + archive + L" alone: " + platform::NarrowToWide(why));
  return false;
}

// Extracts the archive into target; false (after its failure line) when the archiver did not
// run to its end.
bool Extract(CommandRunner& runner, const std::wstring& toolDirectory, const std::wstring& archive,
             const std::wstring& target) {
  const CommandBuffer extract(templates::kExtract,
                              {ToolDirectoryArgument(toolDirectory), ArchiverPathArgument(archive),
                               ArchiverPathArgument(target)});
  return RunToolForItem(runner, extract, L"Decompress ", archive);
}

void DeleteFileLater(CommandRunner& runner, const std::wstring& path) {
  StartCommand(runner, CommandBuffer(templates::kDeleteFile, {PathArgument(path)}));
}

}  // namespace

int PackageBuilder::UnpackAll(const std::wstring& source, const std::wstring& destination) {
  const StartedCommandsAwaited awaited(runner_);
  if (CheckSeparateTrees(source, destination) != 1) return 0;
  if (copier_.CopyTree(source, destination) != 1) return 0;
  if (CollectUnpackItems(destination) != 1) return 0;
  if (DecompressContainers() != 1) return 0;
  if (DecompressZipFiles() != 1) return 0;
  return 1;
}

int PackageBuilder::DecompressContainers() {
  const std::wstring toolDirectory = GetToolDirectory();
  for (const std::wstring& container : containerFiles) {
    const std::wstring stem(platform::StemBefore(container, L".uip"));
    const std::wstring archive = stem + L".zip";
    if (!IsSafeToExtract(container, stem)) continue;
    UnwrapContainerToZip(container);  // a damaged container simply yields no archive
    if (!Extract(runner_, toolDirectory, archive, stem)) return 0;
    DeleteFileLater(runner_, archive);
    DeleteFileLater(runner_, container);
    consumedPaths.push_back(archive);
    platform::WriteConsoleLine(L"Decompress " + archive + L" finished!");
  }
  platform::WriteConsoleLine(L"Decompress all resource zip files finished!");
  return 1;
}

int PackageBuilder::DecompressZipFiles() {
  const std::wstring toolDirectory = GetToolDirectory();
  for (const std::wstring& archive : zipFiles) {
    // The zip kept beside a container is the one the container step extracted.
    if (IsConsumed(archive, consumedPaths)) {
      platform::WriteConsoleLine(L"Decompress " + archive + L" finished!");
      continue;
    }
    const std::wstring target(platform::StemBefore(archive, L".zip"));
    if (!IsSafeToExtract(archive, target)) continue;
    if (!Extract(runner_, toolDirectory, archive, target)) return 0;
    DeleteFileLater(runner_, archive);
    platform::WriteConsoleLine(L"Decompress " + archive + L" finished!");
  }
  platform::WriteConsoleLine(L"Decompress all resource zip files finished!");
  return 1;
}

}  // namespace uippack
