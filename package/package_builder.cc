#include "package/package_builder.h"

#include "container/container_format.h"
#include "container/container_operations.h"
#include "package/tool_runner.h"
#include "package/tree_copier.h"

namespace uippack {

PackageBuilder::PackageBuilder() : PackageBuilder(SystemCommandRunner(), SystemTreeCopier()) {}

PackageBuilder::PackageBuilder(CommandRunner& runner, TreeCopier& copier)
    : runner_(runner), copier_(copier) {}

int PackageBuilder::WrapZipToContainer(const std::wstring& zipPath) {
  const auto archiveAfterWrap = KeepsArchive(LayoutOutputsFor(modeOption))
                                    ? container::ArchiveAfterWrap::Keep
                                    : container::ArchiveAfterWrap::Delete;
  return container::WrapZipToContainer(zipPath, DrawBlockFactor(), archiveAfterWrap);
}

int PackageBuilder::VerifyContainer(const std::wstring& containerPath) {
  return container::VerifyContainer(containerPath);
}

int PackageBuilder::UnwrapContainerToZip(const std::wstring& containerPath) {
  return container::UnwrapContainerToZip(containerPath);
}

}  // namespace uippack
