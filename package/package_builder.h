// The run object: what one pack or unpack run works on, and the operations that do the work.
#pragma once

#include <string>
#include <vector>

#include "package/package_rules.h"

namespace uippack {

class CommandRunner;
class TreeCopier;

// Paths in the order they were discovered; entries are only ever appended.
using PathList = std::vector<std::wstring>;

class PackageBuilder {
 public:
  // The tools are started through runner and the tree is copied by copier: the system's own
  // unless a test hands in others.
  PackageBuilder();
  PackageBuilder(CommandRunner& runner, TreeCopier& copier);
  PackageBuilder(const PackageBuilder&) = delete;
  PackageBuilder& operator=(const PackageBuilder&) = delete;

  // Source tests, called by the driver before anything is copied (tree_discovery.cc).
  int CheckPackSource(const std::wstring& source);
  int CheckUnpackSource(const std::wstring& source);

  // Destination walks, called once per run by the pipelines (tree_discovery.cc). Each recursive
  // walk reports its finding through a marker of its own that lives for the process, so one
  // process makes one run.
  int CollectPackItems(const std::wstring& root);
  int CollectUnpackItems(const std::wstring& root);

  // Pipelines (pack_pipeline.cc, unpack_pipeline.cc). PackAll and UnpackAll return once every
  // removal their steps started has ended, whatever the verdict.
  int PackAll(const std::wstring& source, const std::wstring& destination);
  int CompileScripts();
  int CompressLayoutDirs();
  int CompressResourceDirs();
  int UnpackAll(const std::wstring& source, const std::wstring& destination);
  int DecompressContainers();
  int DecompressZipFiles();

  // The .uip container of this run (container/ does the work).
  int WrapZipToContainer(const std::wstring& zipPath);
  int VerifyContainer(const std::wstring& containerPath);
  int UnwrapContainerToZip(const std::wstring& containerPath);

  PathList scriptFiles;
  PathList layoutDirs;
  PathList resourceDirs;
  PathList zipFiles;
  PathList containerFiles;
  // The directories archived and the archives extracted so far, each with its removal started
  // (consumed_paths.h).
  PathList consumedPaths;
  std::wstring modeOption;

 private:
  CommandRunner& runner_;
  TreeCopier& copier_;
};

}  // namespace uippack
