#include "package/package_builder.h"

#include "container/container_format.h"
#include "container/container_operations.h"
#include "package/tool_runner.h"
#include "package/tree_copier.h"
#include "platform/text.h"

namespace uippack {

LayoutOutputs LayoutOutputsFor(const std::wstring& modeOption) {
  if (modeOption.empty()) return LayoutOutputs::ArchiveAndContainer;
  return platform::EqualsIgnoringCase(modeOption, L"-uip") ? LayoutOutputs::ContainerOnly
                                                           : LayoutOutputs::ArchiveOnly;
}

PackageBuilder::PackageBuilder() : PackageBuilder(SystemCommandRunner(), SystemTreeCopier()) {}

PackageBuilder::PackageBuilder(CommandRunner& runner, TreeCopier& copier)
    : runner_(runner), copier_(copier) {}

PackageBuilder::~PackageBuilder() {
  scriptFiles.clear();
  layoutDirs.clear();
  resourceDirs.clear();
  zipFiles.clear();
  containerFiles.clear();
  consumedPaths.clear();
}

int PackageBuilder::WrapZipToContainer(const std::wstring& zipPath) {
  const auto archiveAfterWrap = LayoutOutputsFor(modeOption) == LayoutOutputs::ContainerOnly
                                    ? container::ArchiveAfterWrap::Delete
                                    : container::ArchiveAfterWrap::Keep;
  return container::WrapZipToContainer(zipPath, DrawBlockFactor(), archiveAfterWrap);
}

int PackageBuilder::VerifyContainer(const std::wstring& containerPath) {
  return container::VerifyContainer(containerPath);
}

int PackageBuilder::UnwrapContainerToZip(const std::wstring& containerPath) {
  return container::UnwrapContainerToZip(containerPath);
}

}  // namespace uippack
