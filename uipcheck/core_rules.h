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

// A rule of the core asked about a UTF-8 name.
template <bool (*Rule)(std::wstring_view)>
bool AskedOfUtf8(std::string_view name) {
  return Rule(uippack::platform::Utf8ToWide(name));
}
inline constexpr auto IsHiddenName = AskedOfUtf8<uippack::platform::IsHiddenName>;
inline constexpr auto IsScriptName = AskedOfUtf8<uippack::IsScriptName>;
inline constexpr auto IsLayoutDirectoryName = AskedOfUtf8<uippack::IsLayoutDirectoryName>;
inline constexpr auto IsResourceDirectoryName = AskedOfUtf8<uippack::IsResourceDirectoryName>;
inline constexpr auto IsArchivedResourceName = AskedOfUtf8<uippack::IsArchivedResourceName>;
inline constexpr auto IsContainerName = AskedOfUtf8<uippack::IsContainerName>;
inline constexpr auto IsArchiveName = AskedOfUtf8<uippack::IsArchiveName>;

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
