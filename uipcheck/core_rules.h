// The core's pack rules (package/package_rules.h), asked about the UTF-8 names uipcheck reads,
// and the names packing makes, spelt in UTF-8. Nothing here decides anything of its own.
#pragma once

#include <string>
#include <string_view>

#include "package/package_rules.h"
#include "platform/path.h"
#include "platform/text.h"

namespace uipcheck {

// A name of the core's rules in the UTF-8 of uipcheck's names.
std::string NameText(std::wstring_view name);

inline bool IsHiddenName(std::string_view name) {
  return uippack::platform::IsHiddenName(uippack::platform::Utf8ToWide(name));
}
inline bool IsScriptName(std::string_view name) {
  return uippack::IsScriptName(uippack::platform::Utf8ToWide(name));
}
inline bool IsLayoutDirectoryName(std::string_view name) {
  return uippack::IsLayoutDirectoryName(uippack::platform::Utf8ToWide(name));
}
inline bool IsResourceDirectoryName(std::string_view name) {
  return uippack::IsResourceDirectoryName(uippack::platform::Utf8ToWide(name));
}
inline bool IsArchivedResourceName(std::string_view name) {
  return uippack::IsArchivedResourceName(uippack::platform::Utf8ToWide(name));
}
inline bool IsContainerName(std::string_view name) {
  return uippack::IsContainerName(uippack::platform::Utf8ToWide(name));
}
inline bool IsArchiveName(std::string_view name) {
  return uippack::IsArchiveName(uippack::platform::Utf8ToWide(name));
}

// The archive packing makes of the directory name, beside it.
inline std::string ArchiveNameOf(std::string_view directoryName) {
  return NameText(uippack::ArchivePathOf(uippack::platform::Utf8ToWide(directoryName)));
}
// layout.uip
inline const std::string& ContainerName() {
  static const std::string name = NameText(uippack::kContainerFileName);
  return name;
}
// layout.zip
inline const std::string& LayoutArchiveName() {
  static const std::string name = ArchiveNameOf(NameText(uippack::kLayoutDirectoryName));
  return name;
}

}  // namespace uipcheck
