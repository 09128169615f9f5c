// The run object: what one pack or unpack run works on, and the operations that do the work.
#pragma once

#include <string>
#include <vector>

namespace uippack {

// Paths in the order they were discovered; entries are only ever appended.
using PathList = std::vector<std::wstring>;

class PackageBuilder {
 public:
  PackageBuilder() = default;
  ~PackageBuilder();
  PackageBuilder(const PackageBuilder&) = delete;
  PackageBuilder& operator=(const PackageBuilder&) = delete;

  // Source tests, called by the driver before anything is copied (tree_discovery.cc).
  int CheckPackSource(const std::wstring& source);
  int CheckUnpackSource(const std::wstring& source);

  // Destination walks, called once per run by the pipelines (tree_discovery.cc).
  int CollectPackItems(const std::wstring& root);
  int CollectUnpackItems(const std::wstring& root);

  // Pipelines (pack_pipeline.cc, unpack_pipeline.cc).
  int PackAll(const std::wstring& source, const std::wstring& destination);
  int CompileScripts();
  int CompressLayoutDirs();
  int CompressResourceDirs();
  int UnpackAll(const std::wstring& source, const std::wstring& destination);
  int DecompressContainers();
  int DecompressZipFiles();

  // The .uip container (container/container_operations.cc).
  int WrapZipToContainer(const std::wstring& zipPath);
  int VerifyContainer(const std::wstring& containerPath);
  int UnwrapContainerToZip(const std::wstring& containerPath);

  PathList scriptFiles;
  PathList layoutDirs;
  PathList resourceDirs;
  PathList zipFiles;
  PathList containerFiles;
  std::wstring modeOption;
};

// True when the mode option asks for the archive to be deleted once wrapped ("-uip" in any
// letter case).
bool IsUipModeOption(const std::wstring& modeOption);

// Clears the process-wide found-markers of the recursive walks. A real run never needs this
// (one process, one run); tests that walk several trees in one process do.
void ResetFoundMarkersForTesting();

}  // namespace uippack
