#include "uipcheck/tree_files.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <type_traits>
#include <utility>

#include "platform/path.h"
#include "platform/text.h"
#include "uipcheck/core_rules.h"

namespace uipcheck {

std::string_view DescribeKind(EntryKind kind) {
  switch (kind) {
    case EntryKind::File:
      return "file";
    case EntryKind::Directory:
      return "directory";
    case EntryKind::Link:
      return "symbolic link";
    case EntryKind::Other:
      break;
  }
  return "special file";
}

bool ListDirectory(const fs::path& directory, std::vector<TreeEntry>* entries, std::string* error) {
  std::vector<TreeEntry> found;
  std::error_code code;
  fs::directory_iterator it(directory, code);
  for (; !code && it != fs::directory_iterator(); it.increment(code)) {
    TreeEntry entry;
    entry.path = it->path();
    entry.name = DisplayText(entry.path.filename());
    // The type the listing itself reports where the file system gives one (no stat call per
    // entry); a link is taken as a link, never as its target.
    std::error_code typeCode;
    if (it->is_symlink(typeCode)) {
      entry.kind = EntryKind::Link;
    } else if (it->is_directory(typeCode)) {
      entry.kind = EntryKind::Directory;
    } else if (it->is_regular_file(typeCode)) {
      entry.kind = EntryKind::File;
    } else {
      entry.kind = EntryKind::Other;
    }
    found.push_back(std::move(entry));
  }
  if (code) {
    *error = code.message();
    return false;
  }
  std::ranges::sort(found, {}, &TreeEntry::name);
  *entries = std::move(found);
  return true;
}

SourceWalk SourceWalk::At(const fs::path& root) {
  SourceWalk walk;
  std::error_code code;
  fs::path directory = fs::canonical(root, code);
  if (code) directory = fs::absolute(root, code);
  for (; !directory.empty(); directory = directory.parent_path()) {
    walk.inside_.insert(walk.inside_.begin(), directory);
    if (directory == directory.root_path()) break;
  }
  return walk;
}

bool SourceWalk::List(const fs::path& directory, std::vector<TreeEntry>* entries,
                      std::string* error) const {
  if (!ListDirectory(directory, entries, error)) return false;
  entries->erase(std::remove_if(entries->begin(), entries->end(),
                                [this](TreeEntry& entry) { return !Resolve(&entry); }),
                 entries->end());
  return true;
}

bool SourceWalk::Resolve(TreeEntry* entry) const {
  if (entry->kind == EntryKind::Other) return false;
  if (entry->kind != EntryKind::Link) return true;
  std::error_code code;
  const fs::path target = fs::canonical(entry->path, code);
  if (code) return false;
  // Where the status cannot be had, it is neither a file nor a directory: left out.
  const fs::file_status status = fs::status(target, code);
  if (fs::is_regular_file(status)) {
    entry->kind = EntryKind::File;
  } else if (!fs::is_directory(status)) {
    return false;
  } else {
    // The kernel's own file systems are endless or act when read; the copy never enters them.
    for (const char* name : {"/proc", "/sys", "/dev"}) {
      const fs::path pseudo(name);
      if (std::mismatch(pseudo.begin(), pseudo.end(), target.begin(), target.end()).first ==
          pseudo.end()) {
        return false;
      }
    }
    if (std::find(inside_.begin(), inside_.end(), target) != inside_.end()) return false;
    entry->kind = EntryKind::Directory;
  }
  entry->path = target;
  return true;
}

std::string DisplayText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path PathFromArgument(const fs::path& argument) {
  using Char = fs::path::value_type;
  fs::path::string_type text = argument.native();
  std::replace(text.begin(), text.end(), static_cast<Char>(uippack::platform::kForeignSeparator),
               static_cast<Char>(uippack::platform::kPathSeparator));
  return text;
}

namespace {

// The native form is wide on Windows and the file system's bytes on POSIX; only the branch of
// this platform is compiled.
template <typename Native>
std::wstring WideOf(const Native& native) {
  if constexpr (std::is_same_v<Native, std::wstring>) {
    return native;
  } else {
    return uippack::platform::NarrowToWide(native);
  }
}

}  // namespace

std::wstring WidePath(const fs::path& path) { return WideOf(path.native()); }

std::string NameText(std::wstring_view name) {
  // A path's wide form is UTF-16 on Windows; on POSIX the narrow form is the UTF-8 itself.
  if constexpr (std::is_same_v<fs::path::value_type, wchar_t>) {
    return DisplayText(fs::path(std::wstring(name)));
  } else {
    return uippack::platform::WideToNarrow(name);
  }
}

}  // namespace uipcheck
