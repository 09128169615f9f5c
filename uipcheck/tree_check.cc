#include "uipcheck/tree_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/text.h"
#include "uipcheck/core_rules.h"

namespace uipcheck {
namespace {

// Enough queued work to keep every worker busy while the walk goes on.
constexpr std::size_t kMostQueued = 64;

std::string Kind(EntryKind kind) { return std::string(DescribeKind(kind)); }

}  // namespace

CheckPool::CheckPool(unsigned workers) {
  for (unsigned i = 0; i < std::max(1u, workers); ++i) threads_.emplace_back([this] { Work(); });
}

CheckPool::~CheckPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void CheckPool::Submit(Task task) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kMostQueued; });
  queue_.push_back(std::move(task));
  changed_.notify_all();
}

void CheckPool::Work() {
  ContentCheck check;
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    changed_.notify_all();
    task(check);
  }
}

// ---------------------------------------------------------------------------------------------

PackMode::PackMode(const std::string& option)
    : outputs_(uippack::LayoutOutputsFor(uippack::platform::Utf8ToWide(option))), option_(option) {}

void PackMode::Infer(bool container, bool archive, std::string site) {
  outputs_ = container && archive ? uippack::LayoutOutputs::ArchiveAndContainer
             : container          ? uippack::LayoutOutputs::ContainerOnly
                                  : uippack::LayoutOutputs::ArchiveOnly;
  option_ = outputs_ == uippack::LayoutOutputs::ContainerOnly
                ? NameText(uippack::kContainerOnlyMode)
                : "";
  site_ = std::move(site);
}

std::string PackMode::Outputs() const {
  switch (outputs_.value_or(uippack::LayoutOutputs::ArchiveAndContainer)) {
    case uippack::LayoutOutputs::ArchiveAndContainer:
      return "layout.uip and layout.zip";
    case uippack::LayoutOutputs::ContainerOnly:
      return "layout.uip alone";
    case uippack::LayoutOutputs::ArchiveOnly:
      break;
  }
  return "layout.zip alone";
}

std::string PackMode::Describe() const {
  // An inferred archive-only mode is any option but the two that mean something else.
  const bool anyOther = !site_.empty() && outputs_ == uippack::LayoutOutputs::ArchiveOnly;
  return (anyOther ? std::string("a mode other than \"\" and \"-uip\"")
                   : "mode \"" + option_ + "\"") +
         " (" + Outputs() + ")";
}

std::string PackMode::Summary() const {
  if (!outputs_) return "no layout outputs, no mode";
  return Describe() + (site_.empty() ? ", as stated" : ", inferred from " + site_);
}

std::string PackMode::Json() const {
  if (!outputs_) return "null";
  return "{\"option\":" + (site_.empty() ? JsonString(option_) : std::string("null")) +
         ",\"layoutOutputs\":" + JsonString(Outputs()) +
         ",\"inferredFrom\":" + (site_.empty() ? std::string("null") : JsonString(site_)) + "}";
}

// ---------------------------------------------------------------------------------------------

TreeCheck::TreeCheck(Report& report, unsigned workers, PackMode mode)
    : report_(report), walk_(&report.Open()), mode_(std::move(mode)), pool_(workers) {}

void TreeCheck::ComparePack(const Place& source, const Place& destination) {
  // The source by its path with links resolved: what the walk is inside is known by such paths.
  std::error_code code;
  const fs::path resolved = fs::canonical(source.path, code);
  const Place root{code ? source.path : resolved, source.display};
  sourceWalk_ = SourceWalk::At(root.path);
  // The copy does not enter a link to a directory it is making either.
  const fs::path copy = fs::canonical(destination.path, code);
  resolvedDestination_ = code ? destination.path : copy;
  sourceWalk_.Enter(resolvedDestination_);
  ComparePackedDirectory(root, destination, true, false);
  report_.Complete(*walk_);
}

void TreeCheck::CheckShipped(const Place& destination) {
  CheckShippedDirectory(destination, false);
  report_.Complete(*walk_);
}

bool TreeCheck::List(const Place& directory, std::vector<TreeEntry>* entries) {
  report_.ShowProgress();
  std::string error;
  if (ListDirectory(directory.path, entries, &error)) return true;
  walk_->Unreadable(directory.display, error);
  return false;
}

void TreeCheck::Hand(CheckPool::Task task) {
  report_.Complete(*walk_);
  report_.WaitForRoom();
  Findings& part = report_.Open();
  walk_ = &report_.Open();
  pool_.Submit([&part, &report = report_, task = std::move(task)](ContentCheck& check) {
    check.ReportTo(part);
    task(check);
    report.Complete(part);
  });
}

void TreeCheck::CheckFiles(std::vector<FileWork> files) {
  if (files.empty()) return;
  Hand([files = std::move(files)](ContentCheck& check) {
    for (const FileWork& file : files) {
      if (file.script) {
        check.CheckScriptFile(file.destination);
      } else {
        check.CompareFile(file.source, file.destination);
      }
    }
  });
}

// The outputs of one layout directory, held against the run's mode; the first ones found tell
// the mode where none was stated. What the mode does not make is reported as such and not read.
void TreeCheck::CheckLayoutOutputs(const Place& directory, bool hasContainer, bool hasArchive,
                                   const Place* layoutSource) {
  const std::string from = layoutSource != nullptr ? " (from " + layoutSource->display + ")" : "";
  if (!mode_.Known()) {
    if (!hasContainer && !hasArchive) {
      walk_->Difference(JoinDisplay(directory.display, ContainerName()),
                        "layout.uip or layout.zip" + from, "neither");
      return;
    }
    mode_.Infer(
        hasContainer, hasArchive,
        JoinDisplay(directory.display, hasContainer ? ContainerName() : LayoutArchiveName()));
  }
  hasContainer =
      KeepLayoutOutput(directory, ContainerName(), hasContainer, mode_.MakesContainer(), from);
  hasArchive =
      KeepLayoutOutput(directory, LayoutArchiveName(), hasArchive, mode_.KeepsArchive(), from);
  if (!hasContainer && !hasArchive) return;
  std::optional<Place> source;
  if (layoutSource != nullptr) source = *layoutSource;
  Hand([directory, hasContainer, hasArchive, source, walk = sourceWalk_](ContentCheck& check) {
    check.CheckLayoutOutputs(directory, hasContainer, hasArchive, source ? &*source : nullptr,
                             walk);
  });
}

// Whether the output name is there to be checked: present and made by the mode.
bool TreeCheck::KeepLayoutOutput(const Place& directory, std::string_view name, bool present,
                                 bool made, const std::string& from) {
  const std::string where = JoinDisplay(directory.display, name);
  if (present && !made) {
    walk_->Difference(where,
                      std::string(name == ContainerName() ? "nothing (a container this mode"
                                                          : "nothing (a layout archive this mode") +
                          " does not make: " + mode_.Describe() + ")",
                      "file");
    return false;
  }
  if (!present && made) {
    walk_->Difference(where, std::string(name) + from + " in " + mode_.Describe(), "nothing");
  }
  return present;
}

void TreeCheck::CheckResourceArchive(const Place& archive, const Place* source) {
  std::optional<Place> from;
  if (source != nullptr) from = *source;
  Hand([archive, from, walk = sourceWalk_](ContentCheck& check) {
    check.CheckResourceArchive(archive, from ? &*from : nullptr, walk);
  });
}

// What packing makes of one directory of the source, name by name in the destination.
// reached: the walk got here (no hidden directory on the way), so scripts are compiled and
// layout and resource directories archived; inResources: this is such a `res` directory.
void TreeCheck::ComparePackedDirectory(const Place& source, const Place& destination, bool reached,
                                       bool inResources) {
  std::vector<TreeEntry> sourceEntries;
  std::vector<TreeEntry> destinationEntries;
  std::string error;
  report_.ShowProgress();
  if (!sourceWalk_.List(source.path, &sourceEntries, &error)) {
    walk_->Unreadable(source.display, error);
    return;
  }
  if (!List(destination, &destinationEntries)) return;

  LevelPlan plan = PlanLevel(source, sourceEntries, reached, inResources);
  LevelFound found;
  MatchLevel(plan, source, destination, destinationEntries, &found);
  CheckFiles(std::move(found.files));
  ReportUnmade(plan, destination);
  // A level's layout outputs before those below it: the first ones found tell the mode.
  if (plan.layoutSource) {
    CheckLayoutOutputs(destination, found.hasContainer, found.hasArchive, &*plan.layoutSource);
  }
  for (const auto& [from, here] : found.subdirectories) {
    const std::string name = DisplayText(here.path.filename());
    const bool childReached = reached && !IsHiddenName(name);
    resolvedDestination_ /= here.path.filename();
    sourceWalk_.Enter(from.path);
    sourceWalk_.Enter(resolvedDestination_);
    ComparePackedDirectory(from, here, childReached, childReached && IsResourceDirectoryName(name));
    sourceWalk_.Leave();
    sourceWalk_.Leave();
    resolvedDestination_ = resolvedDestination_.parent_path();
  }
}

// What packing makes of each entry of a source directory, by the name it has in the
// destination.
TreeCheck::LevelPlan TreeCheck::PlanLevel(const Place& source,
                                          const std::vector<TreeEntry>& entries, bool reached,
                                          bool inResources) {
  LevelPlan plan;
  for (const TreeEntry& entry : entries) {
    const Place from = source.Child(entry);
    const bool isDirectory = entry.kind == EntryKind::Directory;
    if (isDirectory && reached && IsLayoutDirectoryName(entry.name)) {
      plan.layoutSource = from;
      plan.entries[entry.name] = {Want::Gone, from,
                                  "packed into " + ContainerName() + " or " + LayoutArchiveName()};
      plan.entries[ContainerName()] = {Want::LayoutOutput, from, {}};
      plan.entries[LayoutArchiveName()] = {Want::LayoutOutput, from, {}};
    } else if (isDirectory && reached && inResources && IsArchivedResourceName(entry.name)) {
      const std::string archive = ArchiveNameOf(entry.name);
      plan.entries[entry.name] = {Want::Gone, from, "packed into " + archive};
      plan.entries[archive] = {Want::ResourceArchive, from, {}};
    } else if (isDirectory) {
      plan.entries.try_emplace(entry.name, Planned{Want::Directory, from, {}});
    } else {
      const Want want = reached && IsScriptName(entry.name) ? Want::Script : Want::Copy;
      if (!plan.entries.try_emplace(entry.name, Planned{want, from, {}}).second) {
        // Sorted listings put "images" before "images.zip": the archive was planned first.
        walk_->Difference(from.display, "no file where packing writes an archive", "file");
      }
    }
  }
  return plan;
}

// The destination's entries against the plan: what is not planned, or not of the kind
// planned, is a difference; the rest is handed on for its content.
void TreeCheck::MatchLevel(LevelPlan& plan, const Place& source, const Place& destination,
                           const std::vector<TreeEntry>& entries, LevelFound* found) {
  for (const TreeEntry& entry : entries) {
    const Place here = destination.Child(entry);
    const auto it = plan.entries.find(entry.name);
    if (it == plan.entries.end()) {
      walk_->Difference(here.display, "nothing",
                        Kind(entry.kind) + " (not made by packing " + source.display + ")");
      continue;
    }
    Planned& planned = it->second;
    planned.present = true;
    if (planned.want == Want::Gone) {
      walk_->Difference(here.display, "nothing (" + planned.why + ")", Kind(entry.kind));
      continue;
    }
    const EntryKind wantedKind =
        planned.want == Want::Directory ? EntryKind::Directory : EntryKind::File;
    if (entry.kind != wantedKind) {
      walk_->Difference(here.display, Kind(wantedKind), Kind(entry.kind));
    } else if (planned.want == Want::Copy || planned.want == Want::Script) {
      found->files.push_back({planned.want == Want::Script, planned.source, here});
    } else if (planned.want == Want::Directory) {
      found->subdirectories.emplace_back(planned.source, here);
    } else if (planned.want == Want::LayoutOutput) {
      (IsContainerName(entry.name) ? found->hasContainer : found->hasArchive) = true;
    } else {
      CheckResourceArchive(here, &planned.source);
    }
  }
}

// What packing makes and the destination lacks.
void TreeCheck::ReportUnmade(const LevelPlan& plan, const Place& destination) {
  for (const auto& [name, planned] : plan.entries) {
    if (planned.present) continue;
    const std::string where = JoinDisplay(destination.display, name);
    if (planned.want == Want::Copy || planned.want == Want::Script) {
      walk_->Difference(where, "a file (from " + planned.source.display + ")", "nothing");
    } else if (planned.want == Want::Directory) {
      walk_->Difference(where, "a directory (from " + planned.source.display + ")", "nothing");
    } else if (planned.want == Want::ResourceArchive) {
      walk_->Difference(where, "the archive of " + planned.source.display, "nothing");
    }
  }
}

// The destination alone, by the walk's rules: what packing removes must be gone, what it
// makes must be sound.
void TreeCheck::CheckShippedDirectory(const Place& destination, bool inResources) {
  std::vector<TreeEntry> entries;
  if (!List(destination, &entries)) return;
  bool hasContainer = false;
  bool hasArchive = false;
  std::vector<FileWork> scripts;
  std::vector<Place> subdirectories;  // entered once this level is done
  for (const TreeEntry& entry : entries) {
    const Place here = destination.Child(entry);
    if (IsLinkOrSpecial(entry.kind)) {
      walk_->Difference(here.display, "a file or a directory", Kind(entry.kind) + ", not followed");
    } else if (entry.kind == EntryKind::Directory) {
      if (IsHiddenName(entry.name)) continue;
      if (IsContainerName(entry.name) || entry.name == LayoutArchiveName()) {
        walk_->Difference(here.display, "a file (packing makes it of a layout directory)",
                          "directory");
      } else if (IsLayoutDirectoryName(entry.name)) {
        walk_->Difference(here.display, "nothing (packing archives layout directories)",
                          "directory");
      } else if (inResources) {
        walk_->Difference(here.display, "nothing (packing archives resource subdirectories)",
                          "directory");
      } else {
        subdirectories.push_back(here);
      }
    } else if (IsContainerName(entry.name)) {
      hasContainer = true;
    } else if (entry.name == LayoutArchiveName()) {
      hasArchive = true;
    } else if (inResources && IsArchiveName(entry.name)) {
      CheckResourceArchive(here, nullptr);
    } else if (IsScriptName(entry.name)) {
      scripts.push_back({true, {}, here});
    }
  }
  CheckFiles(std::move(scripts));
  if (hasContainer || hasArchive) {
    CheckLayoutOutputs(destination, hasContainer, hasArchive, nullptr);
  }
  for (const Place& here : subdirectories) {
    CheckShippedDirectory(here, IsResourceDirectoryName(DisplayText(here.path.filename())));
  }
}

}  // namespace uipcheck
