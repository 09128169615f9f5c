// The unpack run: copy the shipped tree, then turn its containers and archives back into
// directories, in the copy only.
#include <string>

#include "package/command_templates.h"
#include "package/package_builder.h"
#include "package/tool_runner.h"
#include "package/tree_overlap.h"
#include "platform/platform.h"

namespace uippack {
namespace {

// The path up to the last occurrence of the extension (case-sensitive), or the whole path.
std::wstring Stem(const std::wstring& path, std::wstring_view extension) {
  const auto at = path.rfind(extension);
  return at == std::wstring::npos ? path : path.substr(0, at);
}

// Extracts the archive into target; false (after its failure line) when the archiver did not
// run to its end.
bool Extract(const std::wstring& toolDirectory, const std::wstring& archive,
             const std::wstring& target) {
  const CommandBuffer extract(templates::kExtract,
                              {ToolDirectoryArgument(toolDirectory), ArchiverPathArgument(archive),
                               ArchiverPathArgument(target)});
  return RunToolForItem(extract, L"Decompress ", archive);
}

void DeleteFileLater(const std::wstring& path) {
  StartCommand(CommandBuffer(templates::kDeleteFile, {PathArgument(path)}));
}

}  // namespace

int PackageBuilder::UnpackAll(const std::wstring& source, const std::wstring& destination) {
  if (CheckSeparateTrees(source, destination) != 1) return 0;
  if (CopyTree(source, destination) != 1) return 0;
  if (CollectUnpackItems(destination) != 1) return 0;
  if (DecompressContainers() != 1) return 0;
  if (DecompressZipFiles() != 1) return 0;
  return 1;
}

int PackageBuilder::DecompressContainers() {
  const std::wstring toolDirectory = GetToolDirectory();
  for (const std::wstring& container : containerFiles) {
    const std::wstring stem = Stem(container, L".uip");
    const std::wstring archive = stem + L".zip";
    UnwrapContainerToZip(container);  // a damaged container simply yields no archive
    if (!Extract(toolDirectory, archive, stem)) return 0;
    DeleteFileLater(archive);
    DeleteFileLater(container);
    platform::WriteConsoleLine(L"Decompress " + archive + L" finished!");
  }
  platform::WriteConsoleLine(L"Decompress all resource zip files finished!");
  return 1;
}

int PackageBuilder::DecompressZipFiles() {
  const std::wstring toolDirectory = GetToolDirectory();
  for (const std::wstring& archive : zipFiles) {
    if (!Extract(toolDirectory, archive, Stem(archive, L".zip"))) return 0;
    DeleteFileLater(archive);
    platform::WriteConsoleLine(L"Decompress " + archive + L" finished!");
  }
  platform::WriteConsoleLine(L"Decompress all resource zip files finished!");
  return 1;
}

}  // namespace uippack
