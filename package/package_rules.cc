#include "package/package_rules.h"

#include "platform/path.h"
#include "platform/text.h"

namespace uippack {

LayoutOutputs LayoutOutputsFor(std::wstring_view modeOption) {
  if (modeOption.empty()) return LayoutOutputs::ArchiveAndContainer;
  return platform::EqualsIgnoringCase(modeOption, kContainerOnlyMode) ? LayoutOutputs::ContainerOnly
                                                                      : LayoutOutputs::ArchiveOnly;
}

bool MakesContainer(LayoutOutputs outputs) { return outputs != LayoutOutputs::ArchiveOnly; }

bool KeepsArchive(LayoutOutputs outputs) { return outputs != LayoutOutputs::ContainerOnly; }

bool IsScriptName(std::wstring_view name) { return platform::ExtensionOf(name) == L".lua"; }

bool IsLayoutDirectoryName(std::wstring_view name) { return name == kLayoutDirectoryName; }

bool IsResourceDirectoryName(std::wstring_view name) { return name == kResourceDirectoryName; }

bool IsArchivedResourceName(std::wstring_view name) {
  return !name.empty() && !platform::IsHiddenName(name);
}

std::wstring ArchivePathOf(std::wstring_view directory) {
  std::wstring archive(directory);
  archive += kArchiveExtension;
  return archive;
}

bool IsContainerName(std::wstring_view name) { return name == kContainerFileName; }

bool IsArchiveName(std::wstring_view name) {
  return platform::ExtensionOf(name) == kArchiveExtension;
}

}  // namespace uippack
