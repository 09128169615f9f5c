// The content checks: files against their sources, scripts, layout outputs and archives entry
// by entry. One ContentCheck per worker thread, with its own buffers, writing to the findings
// of the part it works on.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "uipcheck/archive_reader.h"
#include "uipcheck/report.h"
#include "uipcheck/tree_files.h"
#include "uipcheck/zip_directory.h"

namespace uipcheck {

// A place in a tree: its path, and how messages name it.
struct Place {
  fs::path path;
  std::string display;
  Place Child(std::string_view name) const;
  Place Child(const TreeEntry& entry) const;
};

// The display of a child: display, the native separator and name.
std::string JoinDisplay(const std::string& display, std::string_view name);

// Compares a stream of bytes, as it arrives, with a file read alongside; one buffer, reused
// from file to file.
class StreamComparer {
 public:
  StreamComparer();
  bool Start(const fs::path& file, std::string* error);
  std::uint64_t FileSize() const { return file_.Size(); }
  void Feed(const std::uint8_t* data, std::size_t size);
  // After the last Feed: true when the stream equalled the file. Otherwise *firstDifference is
  // the first byte at which they part, or *readError says why the file could not be read. The
  // file stays open until the next Start.
  bool Finish(std::uint64_t* firstDifference, std::string* readError);

 private:
  InputFile file_;
  std::vector<std::uint8_t> buffer_;
  // Where the comparison of one file stands.
  struct Progress {
    std::size_t used = 0;        // bytes of buffer_ compared
    std::size_t filled = 0;      // bytes read into buffer_
    std::uint64_t compared = 0;  // stream bytes found equal so far
    bool differs = false;
    std::string readError;
  } at_;
};

class ContentCheck {
 public:
  ContentCheck();
  ContentCheck(const ContentCheck&) = delete;
  ContentCheck& operator=(const ContentCheck&) = delete;

  // Where the findings of the following checks go.
  void ReportTo(Findings& findings) { out_ = &findings; }

  // destination is a copy of source, byte for byte.
  void CompareFile(const Place& source, const Place& destination);
  // script is Lua 5.4 bytecode.
  void CheckScriptFile(const Place& script);
  // The layout.uip and/or layout.zip in directory; with layoutSource, they hold exactly the
  // pack of that layout directory.
  // walk: where the source's walk stands, in the directory above the source given.
  void CheckLayoutOutputs(const Place& directory, bool hasContainer, bool hasArchive,
                          const Place* layoutSource, SourceWalk walk);
  // A resource archive, stored without compression; with source, it holds exactly the pack of
  // that resource subdirectory.
  void CheckResourceArchive(const Place& archive, const Place* source, SourceWalk walk);

 private:
  struct ExpectedEntry {
    bool isDirectory = false;
    bool opaque = false;  // present or not, its content is not compared
    Place source;
    bool seen = false;
    bool implied = false;   // a directory named only by the paths below it
    bool unlisted = false;  // a directory the walk could not list: what is below it is unknown
  };
  using ExpectedEntries = std::map<std::string, ExpectedEntry>;

  static bool BelowUnlisted(const ExpectedEntries& expected, const std::string& name);
  void CollectExpected(const Place& directory, const std::string& prefix, bool reached,
                       bool layoutsBecomeArchives, SourceWalk& walk, ExpectedEntries* expected);
  void CheckArchive(ByteSource& bytes, const std::string& display, ExpectedEntries* expected,
                    bool mustBeStored);
  void ReportFault(const std::string& display, const ZipFault& fault);
  bool CheckEntryName(const std::string& name, const std::string& display, bool unique,
                      std::unordered_set<std::uint64_t>* seen);
  bool EntriesMeet(ArchiveReader::Step step, ZipDirectory::Step listing, const ArchiveEntry& entry,
                   const ZipEntryInfo& listed, const std::string& display);
  void ReportMissing(const std::string& display, const ExpectedEntries* expected);
  bool MatchExpected(const ArchiveEntry& entry, const std::string& display,
                     ExpectedEntries* expected, ExpectedEntry** want);
  void CheckArchiveEntry(ArchiveReader& reader, const ArchiveEntry& entry,
                         const ZipEntryInfo& listed, const std::string& display,
                         ExpectedEntries* expected, bool mustBeStored);
  void FinishComparison(const std::string& display, const Place& source, std::uint64_t size,
                        bool sound);
  using DataSink = std::function<void(const std::uint8_t*, std::size_t)>;
  // Reads the entry's data whole, each block also handed to also (when set), into *size bytes.
  // False, once reported, when the data is not what the central directory says it is.
  bool ReadEntryData(ArchiveReader& reader, const ZipEntryInfo& listed, const std::string& display,
                     const DataSink& also, std::uint64_t* size);

  Findings* out_ = nullptr;
  StreamComparer comparer_;
  std::vector<std::uint8_t> readBuffer_;
  std::vector<std::uint8_t> archiveChunk_;
};

}  // namespace uipcheck
