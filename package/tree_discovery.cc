// The source tests and the destination walks. They only list directories: nothing here opens,
// changes or prints anything.
#include <string>

#include "package/package_builder.h"
#include "package/package_rules.h"
#include "platform/directory.h"
#include "platform/path.h"

namespace uippack {
namespace {

// Each recursive operation reports a finding through its own process-wide marker, so a find
// deep in the tree reaches the outermost call whatever the levels in between return.
int unpackSourceFound = 0;
int packItemsFound = 0;
int unpackItemsFound = 0;

using platform::ChildPath;
using platform::IsHiddenName;

}  // namespace

int PackageBuilder::CheckPackSource(const std::wstring& source) {
  platform::DirectoryListing listing;
  if (!listing.Open(source)) return 0;
  bool hasLayout = false;
  bool hasRes = false;
  bool hasNameTable = false;
  bool hasPackageConfig = false;
  platform::DirectoryEntry entry;
  while (listing.Next(&entry)) {
    if (entry.isDirectory) {
      hasLayout = hasLayout || IsLayoutDirectoryName(entry.name);
      hasRes = hasRes || IsResourceDirectoryName(entry.name);
    } else {
      hasNameTable = hasNameTable || entry.name == L"nametable.cfg";
      hasPackageConfig = hasPackageConfig || entry.name == L"package.cfg";
    }
  }
  return hasLayout && hasRes && hasNameTable && hasPackageConfig ? 1 : 0;
}

int PackageBuilder::CheckUnpackSource(const std::wstring& source) {
  platform::DirectoryListing listing;
  if (!listing.Open(source)) return 0;
  platform::DirectoryEntry entry;
  while (listing.Next(&entry)) {
    if (!entry.isDirectory && IsContainerName(entry.name)) {
      unpackSourceFound = 1;
      break;
    }
    if (entry.isDirectory && !IsHiddenName(entry.name)) {
      CheckUnpackSource(ChildPath(source, entry.name));
    }
  }
  return unpackSourceFound;
}

int PackageBuilder::CollectPackItems(const std::wstring& root) {
  platform::DirectoryListing listing;
  if (!listing.Open(root)) return 0;
  platform::DirectoryEntry entry;
  while (listing.Next(&entry)) {
    if (entry.isDirectory) {
      if (IsHiddenName(entry.name)) continue;
      std::wstring path = ChildPath(root, entry.name);
      if (IsLayoutDirectoryName(entry.name)) {
        layoutDirs.push_back(path);
      } else if (IsResourceDirectoryName(entry.name)) {
        resourceDirs.push_back(path);
      }
      CollectPackItems(path);
    } else if (entry.isRegularFile && IsScriptName(entry.name)) {
      // The compiler writes through what it is handed: never a link or a FIFO.
      scriptFiles.push_back(ChildPath(root, entry.name));
      packItemsFound = 1;
    }
  }
  return packItemsFound;
}

int PackageBuilder::CollectUnpackItems(const std::wstring& root) {
  platform::DirectoryListing listing;
  if (!listing.Open(root)) return 0;
  platform::DirectoryEntry entry;
  while (listing.Next(&entry)) {
    if (entry.isDirectory) {
      if (!IsHiddenName(entry.name)) CollectUnpackItems(ChildPath(root, entry.name));
    } else if (!entry.isRegularFile) {
      continue;  // the archiver would read through a link or wait on a FIFO
    } else if (IsContainerName(entry.name)) {
      containerFiles.push_back(ChildPath(root, entry.name));
      unpackItemsFound = 1;
    } else if (IsArchiveName(entry.name)) {
      zipFiles.push_back(ChildPath(root, entry.name));
      unpackItemsFound = 1;
    }
  }
  return unpackItemsFound;
}

}  // namespace uippack
