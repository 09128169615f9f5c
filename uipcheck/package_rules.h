// The rules of the pack walk as uipcheck applies them to the UTF-8 names it reads: which
// directories are entered and which files are scripts come from the core's own name rules;
// which directories become archives and what a compiled script looks like are stated here.
// Names compare exactly, letter case significant.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/path.h"
#include "platform/text.h"

namespace uipcheck {

inline constexpr std::string_view kLayoutDirectory = "layout";
inline constexpr std::string_view kResourceDirectory = "res";
inline constexpr std::string_view kContainerName = "layout.uip";
inline constexpr std::string_view kLayoutArchiveName = "layout.zip";
inline constexpr std::string_view kArchiveSuffix = ".zip";

// A directory whose name begins with "." is never entered: nothing below it is compiled or
// archived.
inline bool IsHiddenName(std::string_view name) {
  return uippack::platform::IsHiddenName(uippack::platform::Utf8ToWide(name));
}

// A script's extension is ".lua" exactly, taken from the name's last "." on.
inline bool IsScriptName(std::string_view name) {
  return uippack::platform::ExtensionOf(uippack::platform::Utf8ToWide(name)) == L".lua";
}

// Inside an archive: a script the walk reached, that is one with no hidden directory on its
// way. name uses '/' between levels.
inline bool IsReachedScriptEntry(std::string_view name) {
  std::size_t start = 0;
  for (std::size_t slash = name.find('/'); slash != std::string_view::npos;
       slash = name.find('/', start)) {
    if (IsHiddenName(name.substr(start, slash - start))) return false;
    start = slash + 1;
  }
  return IsScriptName(name.substr(start));
}

// Lua 5.4 bytecode starts with its signature, the version byte, format 0 and six bytes that
// catch text-mode damage; every compiled chunk is longer than its 31-byte header.
inline constexpr std::string_view kLua54Head{"\x1bLua\x54\x00\x19\x93\r\n\x1a\n", 12};
inline constexpr std::size_t kLua54HeaderSize = 31;

// Empty when head (the first bytes of a size-byte file) is Lua 5.4 bytecode, else what it
// is instead.
inline std::string DescribeNonBytecode(std::string_view head, unsigned long long size) {
  if (size == 0) return "an empty file";
  if (head.substr(0, 4) == kLua54Head.substr(0, 4)) {
    if (head.size() < 5 || head[4] != kLua54Head[4]) return "Lua bytecode of another version";
    if (head.substr(0, kLua54Head.size()) != kLua54Head || size <= kLua54HeaderSize) {
      return "damaged Lua bytecode";
    }
    return "";
  }
  return "Lua source or other text, not bytecode (" + std::to_string(size) + " bytes)";
}

}  // namespace uipcheck
