// The pack run: copy the package, then compile its scripts, archive and wrap its layout
// directories and archive its resource subdirectories, in the copy only.
#include <string>

#include "package/command_templates.h"
#include "package/consumed_paths.h"
#include "package/package_builder.h"
#include "package/package_rules.h"
#include "package/tool_runner.h"
#include "package/tree_copier.h"
#include "package/tree_overlap.h"
#include "platform/console.h"
#include "platform/directory.h"
#include "platform/path.h"

namespace uippack {

int PackageBuilder::PackAll(const std::wstring& source, const std::wstring& destination) {
  const StartedCommandsAwaited awaited(runner_);
  if (CheckSeparateTrees(source, destination) != 1) return 0;
  if (copier_.CopyTree(source, destination) != 1) return 0;
  if (CollectPackItems(destination) != 1) return 0;
  if (CompileScripts() != 1) return 0;
  if (CompressLayoutDirs() != 1) return 0;
  if (CompressResourceDirs() != 1) return 0;
  return 1;
}

int PackageBuilder::CompileScripts() {
  const std::wstring toolDirectory = GetToolDirectory();
  for (const std::wstring& script : scriptFiles) {
    const CommandBuffer preCompile(
        templates::kPreCompile,
        {ToolDirectoryArgument(toolDirectory), PathArgument(script), PathArgument(script)});
    if (!RunToolForItem(runner_, preCompile, L"PreCompile ", script)) return 0;
    platform::WriteConsoleLine(L"PreCompile " + script + L" finished!");

    const CommandBuffer compile(templates::kCompile, {ToolDirectoryArgument(toolDirectory),
                                                      PathArgument(script), PathArgument(script)});
    if (!RunToolForItem(runner_, compile, L"Compile ", script)) return 0;
    platform::WriteConsoleLine(L"Compile " + script + L" finished!");
  }
  platform::WriteConsoleLine(L"Compile all lua files finished!");
  return 1;
}

int PackageBuilder::CompressLayoutDirs() {
  const std::wstring toolDirectory = GetToolDirectory();
  const bool wrap = MakesContainer(LayoutOutputsFor(modeOption));
  for (const std::wstring& entry : layoutDirs) {
    std::wstring directory = entry;
    if (!directory.empty() && directory.back() == platform::kPathSeparator) directory.pop_back();
    // A layout directory inside one archived before is in that archive, as a plain directory.
    if (IsConsumed(directory, consumedPaths)) {
      platform::WriteConsoleLine(L"Compress " + directory + L" finished!");
      continue;
    }
    const std::wstring archive = ArchivePathOf(directory);

    const CommandBuffer compress(
        templates::kArchiveLayout,
        {ToolDirectoryArgument(toolDirectory), ArchiverPathArgument(archive),
         ArchiverPathArgument(platform::ChildPath(directory, L"*"))});
    if (!RunToolForItem(runner_, compress, L"Compress ", directory)) return 0;
    if (wrap) WrapZipToContainer(archive);  // a failed wrap does not stop the run
    StartCommand(runner_, CommandBuffer(templates::kRemoveDirectory, {PathArgument(directory)}));
    consumedPaths.push_back(directory);
    platform::WriteConsoleLine(L"Compress " + directory + L" finished!");
  }
  platform::WriteConsoleLine(L"Compress all layout directories finished!");
  return 1;
}

int PackageBuilder::CompressResourceDirs() {
  const std::wstring toolDirectory = GetToolDirectory();
  for (const std::wstring& resourceDirectory : resourceDirs) {
    // Inside an archived directory it is in that archive already, and may be half removed.
    if (IsConsumed(resourceDirectory, consumedPaths)) continue;
    platform::DirectoryListing listing;
    if (!listing.Open(resourceDirectory)) return 0;
    platform::DirectoryEntry entry;
    while (listing.Next(&entry)) {
      if (!entry.isDirectory || !IsArchivedResourceName(entry.name)) continue;
      const std::wstring subdirectory = platform::ChildPath(resourceDirectory, entry.name);
      // A layout directory here was archived, and its line printed, by the layout step.
      if (IsConsumed(subdirectory, consumedPaths)) continue;
      // One inside it is being removed, and the archive must not catch it half gone.
      if (HoldsConsumed(subdirectory, consumedPaths)) runner_.WaitForStarted();
      const CommandBuffer compress(
          templates::kArchiveResource,
          {ToolDirectoryArgument(toolDirectory), ArchiverPathArgument(ArchivePathOf(subdirectory)),
           ArchiverPathArgument(platform::ChildPath(subdirectory, L"*"))});
      if (!RunToolForItem(runner_, compress, L"Compress ", subdirectory)) return 0;
      StartCommand(runner_,
                   CommandBuffer(templates::kRemoveDirectory, {PathArgument(subdirectory)}));
      consumedPaths.push_back(subdirectory);
      platform::WriteConsoleLine(L"Compress " + subdirectory + L" finished!");
    }
  }
  platform::WriteConsoleLine(L"Compress all resource directories finished!");
  return 1;
}

}  // namespace uippack
