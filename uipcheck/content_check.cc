#include "uipcheck/content_check.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <utility>

#include "container/container_format.h"

#include "platform/path.h"
#include "uipcheck/container_check.h"
#include "uipcheck/core_rules.h"

namespace uipcheck {
namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr char kSeparator = static_cast<char>(uippack::platform::kPathSeparator);

std::string EntryKindText(const ArchiveEntry& entry) {
  return entry.isDirectory ? "directory" : entry.isFile ? "file" : "link or special entry";
}

// Inside an archive: a script the walk reached, that is one with no hidden directory on its
// way. name uses '/' between levels.
bool IsReachedScriptEntry(std::string_view name) {
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
constexpr std::string_view kLua54Head{"\x1bLua\x54\x00\x19\x93\r\n\x1a\n", 12};
constexpr std::size_t kLua54HeaderSize = 31;

// Empty when head (the first bytes of a size-byte file) is Lua 5.4 bytecode, else what it
// is instead.
std::string DescribeNonBytecode(std::string_view head, std::uint64_t size) {
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

}  // namespace

std::string JoinDisplay(const std::string& display, std::string_view name) {
  std::string joined = display;
  if (!joined.empty() && joined.back() != '/' && joined.back() != kSeparator) {
    joined += kSeparator;
  }
  joined += name;
  return joined;
}

Place Place::Child(std::string_view name) const {
  return {path / fs::path(name), JoinDisplay(display, name)};
}

Place Place::Child(const TreeEntry& entry) const {
  return {entry.path, JoinDisplay(display, entry.name)};
}

// ---------------------------------------------------------------------------------------------

StreamComparer::StreamComparer() : buffer_(kBufferSize) {}

bool StreamComparer::Start(const fs::path& file, std::string* error) {
  at_ = {};
  return file_.Open(WidePath(file), error);
}

void StreamComparer::Feed(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && !at_.differs) {
    if (at_.used == at_.filled) {
      at_.used = 0;
      // A read that fails, or finds nothing left (the stream is longer than the file), ends it.
      if (!file_.ReadAt(at_.compared, buffer_.data(), buffer_.size(), &at_.filled,
                        &at_.readError) ||
          at_.filled == 0) {
        at_.differs = true;
        return;
      }
    }
    const std::size_t step = std::min(size, at_.filled - at_.used);
    const std::uint8_t* ours = buffer_.data() + at_.used;
    if (std::memcmp(data, ours, step) != 0) {
      // Only a difference is looked at byte by byte.
      at_.compared += static_cast<std::size_t>(std::mismatch(data, data + step, ours).first - data);
      at_.differs = true;
      return;
    }
    at_.compared += step;
    at_.used += step;
    data += step;
    size -= step;
  }
}

bool StreamComparer::Finish(std::uint64_t* firstDifference, std::string* readError) {
  *readError = at_.readError;
  *firstDifference = at_.compared;
  return !at_.differs && at_.compared == file_.Size();
}

// ---------------------------------------------------------------------------------------------

ContentCheck::ContentCheck() : readBuffer_(kBufferSize) {}

// The entries an archive of directory must hold, keyed by their names inside it. In a
// resource archive a layout directory the walk reached had been packed before, so it shows
// as its outputs, whose content is not compared.
void ContentCheck::CollectExpected(const Place& directory, const std::string& prefix, bool reached,
                                   bool layoutsBecomeArchives, SourceWalk& walk,
                                   ExpectedEntries* expected) {
  std::vector<TreeEntry> entries;
  std::string error;
  walk.Enter(directory.path);
  if (!walk.List(directory.path, &entries, &error)) {
    out_->Unreadable(directory.display, error);
    ExpectedEntry& unlisted = (*expected)[prefix];  // "": the archive's own directory
    unlisted.isDirectory = unlisted.implied = unlisted.unlisted = true;
  }
  for (const TreeEntry& entry : entries) {
    const Place from = directory.Child(entry);
    const std::string name = prefix.empty() ? entry.name : prefix + "/" + entry.name;
    if (entry.kind != EntryKind::Directory) {
      expected->try_emplace(name, ExpectedEntry{false, false, from});
      continue;
    }
    const bool childReached = reached && !IsHiddenName(entry.name);
    if (layoutsBecomeArchives && childReached && IsLayoutDirectoryName(entry.name)) {
      ExpectedEntry output{false, true, from};
      output.implied = true;  // either output may be missing, by the run's mode
      (*expected)[prefix.empty() ? ContainerName() : prefix + "/" + ContainerName()] = output;
      (*expected)[prefix.empty() ? LayoutArchiveName() : prefix + "/" + LayoutArchiveName()] =
          output;
      continue;
    }
    (*expected)[name] = {true, false, from};
    CollectExpected(from, name, childReached, layoutsBecomeArchives, walk, expected);
  }
  walk.Leave();
}

// layout.uip and layout.zip beside each other: the container is checked first (and against
// the archive beside it), then the entries of the archive, read from the zip when there is
// one (then proven the same bytes) or else from inside the container.
void ContentCheck::CheckLayoutOutputs(const Place& directory, bool hasContainer, bool hasArchive,
                                      const Place* layoutSource, SourceWalk walk) {
  const Place container = directory.Child(ContainerName());
  const Place archive = directory.Child(LayoutArchiveName());
  ExpectedEntries expectedEntries;
  ExpectedEntries* expected = nullptr;
  if (layoutSource != nullptr) {
    CollectExpected(*layoutSource, {}, true, false, walk, &expectedEntries);
    expected = &expectedEntries;
  }
  std::string error;
  InputFile archiveFile;
  if (hasArchive && !archiveFile.Open(WidePath(archive.path), &error)) {
    out_->Unreadable(archive.display, error);
    return;
  }
  InputFile containerFile;
  ContainerCheck containerCheck;
  if (hasContainer) {
    if (!containerFile.Open(WidePath(container.path), &error)) {
      out_->Unreadable(container.display, error);
      return;
    }
    out_->CountFile();
    containerCheck = CheckContainer(containerFile, container.display,
                                    hasArchive ? &archiveFile : nullptr, archive.display, *out_);
  }
  if (hasArchive) {
    FileSource bytes(archiveFile);
    CheckArchive(bytes, archive.display, expected, false);
  } else if (containerCheck.usable) {
    ContainerSource bytes(containerFile, containerCheck.header);
    CheckArchive(bytes, container.display, expected, false);
  }
}

void ContentCheck::CheckResourceArchive(const Place& archive, const Place* source,
                                        SourceWalk walk) {
  ExpectedEntries expectedEntries;
  if (source != nullptr) CollectExpected(*source, {}, true, true, walk, &expectedEntries);
  InputFile file;
  std::string error;
  if (!file.Open(WidePath(archive.path), &error)) {
    out_->Unreadable(archive.display, error);
    return;
  }
  FileSource bytes(file);
  CheckArchive(bytes, archive.display, source != nullptr ? &expectedEntries : nullptr, true);
}

// The archive is read twice over, in step: our reading of its structure, entry by entry from
// the central directory, and libarchive's streaming read of the local entries, which decodes
// the data. The two must meet at every entry, so the archive checked is the one any reader
// extracts.
void ContentCheck::CheckArchive(ByteSource& bytes, const std::string& display,
                                ExpectedEntries* expected, bool mustBeStored) {
  ZipDirectory directory(bytes);
  ZipFault fault;
  if (!directory.Open(&fault)) return ReportFault(display, fault);
  ArchiveReader reader(bytes, archiveChunk_);
  std::string error;
  ZipEntryInfo listed;
  if (!reader.Open(&error)) {
    // Our reading says where, where it finds the fault.
    if (directory.Next(&listed, &fault) == ZipDirectory::Step::Fault) {
      return ReportFault(display, fault);
    }
    out_->Difference(display, "a ZIP archive", "bytes the ZIP reader rejects (" + error + ")");
    return;
  }
  out_->CountArchive();
  std::unordered_set<std::uint64_t> names;  // hashes: the unique rule without the source
  ArchiveEntry entry;
  for (;;) {
    const ArchiveReader::Step step = reader.Next(&entry);
    const ZipDirectory::Step listing = directory.Next(&listed, &fault);
    // What could not be read is not reported as missing as well.
    if (listing == ZipDirectory::Step::Fault) return ReportFault(display, fault);
    if (step == ArchiveReader::Step::Fatal) {
      out_->Difference(display, "a readable ZIP archive", "damage (" + reader.error() + ")");
      return;
    }
    if (!EntriesMeet(step, listing, entry, listed, display)) return;
    if (step == ArchiveReader::Step::End) break;
    const std::string entryDisplay = display + ":" + listed.name;
    if (step == ArchiveReader::Step::BadEntry) {
      out_->Difference(entryDisplay, "a readable entry", reader.error());
      if (expected != nullptr) {
        const auto it = expected->find(entry.name);
        if (it != expected->end()) it->second.seen = true;
      }
      continue;
    }
    if (!entry.warning.empty()) {
      out_->Difference(entryDisplay, "an entry read without warnings", entry.warning);
    }
    const bool safe = CheckEntryName(listed.name, entryDisplay, expected == nullptr, &names);
    CheckArchiveEntry(reader, entry, listed, entryDisplay, safe ? expected : nullptr, mustBeStored);
  }
  ReportMissing(display, expected);
}

// A name must stay inside the directory it is extracted into, and (unique) may come once;
// with the source, the source's own names see to that. False when it is not safe.
bool ContentCheck::CheckEntryName(const std::string& name, const std::string& display, bool unique,
                                  std::unordered_set<std::uint64_t>* seen) {
  const std::string unsafe = UnsafeEntryName(name);
  if (!unsafe.empty()) {
    out_->Difference(display, "a name that stays inside its directory", unsafe);
    return false;
  }
  // A hash for each name keeps memory small; two names of one hash would be a false alarm.
  if (unique && !seen->insert(std::hash<std::string>()(name)).second) {
    out_->Difference(display, "one entry of this name", "another one");
  }
  return true;
}

void ContentCheck::ReportFault(const std::string& display, const ZipFault& fault) {
  out_->Difference(fault.entry.empty() ? display : display + ":" + fault.entry, fault.expected,
                   fault.found);
}

// Both readers at the same entry, or both at the end.
bool ContentCheck::EntriesMeet(ArchiveReader::Step step, ZipDirectory::Step listing,
                               const ArchiveEntry& entry, const ZipEntryInfo& listed,
                               const std::string& display) {
  const bool readerEnded = step == ArchiveReader::Step::End;
  const bool listingEnded = listing == ZipDirectory::Step::End;
  if (readerEnded && listingEnded) return true;
  if (readerEnded) {
    out_->Difference(display + ":" + listed.name,
                     "an entry a reader finds from the archive's start", "none there");
  } else if (listingEnded) {
    out_->Difference(display + ":" + entry.name, "nothing past the entries listed",
                     "an entry a reader finds from the archive's start");
  } else if (entry.headerAt != listed.localOffset ||
             (entry.name != listed.name && UnsafeEntryName(listed.name).empty())) {
    out_->Difference(display + ":" + listed.name,
                     "the entry listed at byte " + std::to_string(listed.localOffset),
                     "a reader from the archive's start finding " + entry.name + " at byte " +
                         std::to_string(entry.headerAt));
  } else {
    return true;
  }
  return false;
}

void ContentCheck::ReportMissing(const std::string& display, const ExpectedEntries* expected) {
  if (expected == nullptr) return;
  for (const auto& [name, want] : *expected) {
    if (want.seen || want.implied) continue;
    std::string where = display;
    where += ':';
    where += name;
    out_->Difference(std::move(where),
                     std::string(want.isDirectory ? "a directory" : "a file") + " (from " +
                         want.source.display + ")",
                     "nothing");
  }
}

// True when name lies in a directory that could not be listed, which has been reported as such.
bool ContentCheck::BelowUnlisted(const ExpectedEntries& expected, const std::string& name) {
  for (std::size_t slash = 0; slash != std::string::npos; slash = name.find('/', slash + 1)) {
    const auto it = expected.find(name.substr(0, slash));
    if (it != expected.end() && it->second.unlisted) return true;
  }
  return false;
}

// The entry as the source wants it: nullptr when it is not wanted at all, having been
// reported; otherwise *want is the entry expected, or nullptr without a source.
bool ContentCheck::MatchExpected(const ArchiveEntry& entry, const std::string& display,
                                 ExpectedEntries* expected, ExpectedEntry** want) {
  *want = nullptr;
  // The streaming reader knows only files and directories: a link shows by the mode in the
  // central directory, which has been held against the name.
  if (expected == nullptr) return true;
  const auto it = expected->find(entry.name);
  if (it == expected->end()) {
    if (!BelowUnlisted(*expected, entry.name)) {
      out_->Difference(display, "nothing", EntryKindText(entry) + " (not in the source)");
    }
    return false;
  }
  if (it->second.seen) {
    out_->Difference(display, "one entry of this name", "another one");
    return false;
  }
  it->second.seen = true;
  // Its parent directories need no entries of their own.
  for (std::size_t slash = entry.name.find('/'); slash != std::string::npos;
       slash = entry.name.find('/', slash + 1)) {
    const auto parent = expected->find(entry.name.substr(0, slash));
    if (parent != expected->end()) parent->second.implied = true;
  }
  *want = &it->second;
  if (it->second.opaque) return true;
  if (it->second.isDirectory != entry.isDirectory || (!entry.isDirectory && !entry.isFile)) {
    out_->Difference(display, it->second.isDirectory ? "a directory" : "a file",
                     EntryKindText(entry));
    return false;
  }
  return true;
}

// Every entry's data is read whole and held against the CRC-32 and size the central directory
// lists; what else it must be depends on what the source wants there.
void ContentCheck::CheckArchiveEntry(ArchiveReader& reader, const ArchiveEntry& entry,
                                     const ZipEntryInfo& listed, const std::string& display,
                                     ExpectedEntries* expected, bool mustBeStored) {
  ExpectedEntry* want = nullptr;
  const bool wanted = MatchExpected(entry, display, expected, &want);
  const bool compared = wanted && entry.isFile && (want == nullptr || !want->opaque);
  const bool script = compared && IsReachedScriptEntry(entry.name);
  const bool compareSource = compared && !script && want != nullptr;
  std::string error;
  std::uint64_t size = 0;
  if (compareSource && !comparer_.Start(want->source.path, &error)) {
    out_->Unreadable(want->source.display, error);
    ReadEntryData(reader, listed, display, {}, &size);
    return;
  }
  if (compared) {
    out_->CountFile();
    if (mustBeStored && listed.method != 0) {
      out_->Difference(display, "stored without compression", entry.method);
    }
  }
  std::string head;
  const bool sound = ReadEntryData(
      reader, listed, display,
      [&](const std::uint8_t* data, std::size_t length) {
        if (compareSource) comparer_.Feed(data, length);
        if (script && head.size() < kLua54Head.size()) {
          head.append(reinterpret_cast<const char*>(data),
                      std::min(length, kLua54Head.size() - head.size()));
        }
      },
      &size);
  if (compareSource) {
    FinishComparison(display, want->source, size, sound);
  } else if (sound && script) {
    const std::string problem = DescribeNonBytecode(head, size);
    if (!problem.empty()) out_->Difference(display, "Lua 5.4 bytecode", problem);
  }
}

// Ends the comparison of an entry's size bytes with its source; a difference counts only where
// the data itself was sound.
void ContentCheck::FinishComparison(const std::string& display, const Place& source,
                                    std::uint64_t size, bool sound) {
  std::uint64_t firstDifference = 0;
  std::string sourceError;
  const bool same = comparer_.Finish(&firstDifference, &sourceError);
  if (!sound) return;
  if (!sourceError.empty()) {
    out_->Unreadable(source.display, sourceError);
  } else if (!same) {
    out_->Difference(display,
                     "the bytes of " + source.display + " (" + Bytes(comparer_.FileSize()) + ")",
                     Bytes(size) + ", differing from byte " + std::to_string(firstDifference));
  }
}

bool ContentCheck::ReadEntryData(ArchiveReader& reader, const ZipEntryInfo& listed,
                                 const std::string& display, const DataSink& also,
                                 std::uint64_t* size) {
  std::uint32_t crc = 0;
  std::string error;
  const bool intact = reader.ReadData(
      [&](const std::uint8_t* data, std::size_t length) {
        crc = uippack::ContinueChecksum(crc, data, length);
        *size += length;
        out_->Advance(length);
        if (also) also(data, length);
      },
      &error);
  if (!intact) {
    out_->Difference(display, "intact data", error);
  } else if (*size != listed.size) {
    out_->Difference(display, Bytes(listed.size) + " of data, as the central directory says",
                     Bytes(*size));
  } else if (crc != listed.crc) {
    out_->Difference(display, "data of the CRC-32 " + Hex32(listed.crc) + " the archive lists",
                     "data of the CRC-32 " + Hex32(crc));
  } else {
    return true;
  }
  return false;
}

void ContentCheck::CompareFile(const Place& source, const Place& destination) {
  InputFile file;
  std::string error;
  if (!file.Open(WidePath(destination.path), &error)) {
    out_->Unreadable(destination.display, error);
    return;
  }
  if (!comparer_.Start(source.path, &error)) {
    out_->Unreadable(source.display, error);
    return;
  }
  out_->CountFile();
  const std::uint64_t size = file.Size();
  if (size != comparer_.FileSize()) {
    out_->Difference(destination.display,
                     "a copy of " + source.display + " (" + Bytes(comparer_.FileSize()) + ")",
                     Bytes(size));
    return;
  }
  for (std::uint64_t at = 0; at < size;) {
    std::size_t got = 0;
    if (!file.ReadAt(at, readBuffer_.data(), readBuffer_.size(), &got, &error)) {
      out_->Unreadable(destination.display, error);
      return;
    }
    comparer_.Feed(readBuffer_.data(), got);
    out_->Advance(got);
    at += got;
  }
  std::uint64_t firstDifference = 0;
  if (comparer_.Finish(&firstDifference, &error)) return;
  if (!error.empty()) {
    out_->Unreadable(source.display, error);
  } else {
    out_->Difference(destination.display, "a copy of " + source.display,
                     "other bytes from byte " + std::to_string(firstDifference));
  }
}

void ContentCheck::CheckScriptFile(const Place& script) {
  InputFile file;
  std::string error;
  char head[kLua54Head.size()];
  std::size_t got = 0;
  if (!file.Open(WidePath(script.path), &error) ||
      !file.ReadAt(0, head, sizeof head, &got, &error)) {
    out_->Unreadable(script.display, error);
    return;
  }
  out_->CountFile();
  out_->Advance(got);
  const std::string problem = DescribeNonBytecode(std::string_view(head, got), file.Size());
  if (!problem.empty()) out_->Difference(script.display, "Lua 5.4 bytecode", problem);
}

}  // namespace uipcheck
