// The two checks uipcheck makes: a destination against what packing its source must give, and
// a destination on its own. The walk runs on the calling thread and lists directories only;
// the reading (each archive, each directory's files) is handed to a few worker threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "package/package_rules.h"
#include "uipcheck/content_check.h"
#include "uipcheck/report.h"
#include "uipcheck/tree_files.h"

namespace uipcheck {

// Worker threads, each with its own ContentCheck. Submit waits while many tasks are queued,
// so memory stays bounded however many the walk finds.
class CheckPool {
 public:
  using Task = std::function<void(ContentCheck&)>;
  explicit CheckPool(unsigned workers);
  ~CheckPool();  // runs what is queued, then joins
  CheckPool(const CheckPool&) = delete;
  CheckPool& operator=(const CheckPool&) = delete;
  void Submit(Task task);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

// The run's mode: what it leaves of every layout directory. Stated with --mode, or else
// inferred from the first layout outputs the walk finds.
class PackMode {
 public:
  PackMode() = default;
  // option as uippack takes it: empty, -uip in any letter case, or anything else.
  explicit PackMode(const std::string& option);
  bool Known() const { return outputs_.has_value(); }
  void Infer(bool container, bool archive, std::string site);
  bool MakesContainer() const { return !outputs_ || uippack::MakesContainer(*outputs_); }
  bool KeepsArchive() const { return !outputs_ || uippack::KeepsArchive(*outputs_); }
  // What it leaves of a layout directory: "layout.uip alone".
  std::string Outputs() const;
  // The mode and what it leaves: mode "-uip" (layout.uip alone).
  std::string Describe() const;
  // For the summary: the mode and where it comes from.
  std::string Summary() const;
  std::string Json() const;

 private:
  std::optional<uippack::LayoutOutputs> outputs_;
  std::string option_;
  std::string site_;  // inferred from here; empty when stated
};

class TreeCheck {
 public:
  TreeCheck(Report& report, unsigned workers, PackMode mode);
  const PackMode& mode() const { return mode_; }

  // destination against the pack of source.
  void ComparePack(const Place& source, const Place& destination);
  // destination alone: containers, archives and scripts sound, nothing left that packing
  // removes.
  void CheckShipped(const Place& destination);

 private:
  // A file the walk hands on, with what it must be.
  struct FileWork {
    bool script = false;
    Place source;  // unused for a script
    Place destination;
  };

  // What packing makes of an entry of the source, by its name in the destination.
  enum class Want { Copy, Script, Directory, Gone, LayoutOutput, ResourceArchive };
  struct Planned {
    Want want;
    Place source;
    std::string why;  // for Gone: what became of the directory
    bool present = false;
  };
  struct LevelPlan {
    std::map<std::string, Planned> entries;
    std::optional<Place> layoutSource;
  };
  // What the destination holds of a plan, to be checked further.
  struct LevelFound {
    std::vector<FileWork> files;
    std::vector<std::pair<Place, Place>> subdirectories;  // source and destination
    bool hasContainer = false;
    bool hasArchive = false;
  };

  void ComparePackedDirectory(const Place& source, const Place& destination, bool reached,
                              bool inResources);
  LevelPlan PlanLevel(const Place& source, const std::vector<TreeEntry>& entries, bool reached,
                      bool inResources);
  void MatchLevel(LevelPlan& plan, const Place& source, const Place& destination,
                  const std::vector<TreeEntry>& entries, LevelFound* found);
  void ReportUnmade(const LevelPlan& plan, const Place& destination);
  void CheckShippedDirectory(const Place& destination, bool inResources);
  void CheckFiles(std::vector<FileWork> files);
  void CheckLayoutOutputs(const Place& directory, bool hasContainer, bool hasArchive,
                          const Place* layoutSource);
  void CheckResourceArchive(const Place& archive, const Place* source);
  // Runs task on a worker, its findings placed here in the output.
  void Hand(CheckPool::Task task);
  bool List(const Place& directory, std::vector<TreeEntry>* entries);
  bool KeepLayoutOutput(const Place& directory, std::string_view name, bool present, bool made,
                        const std::string& from);

  Report& report_;
  Findings* walk_;  // the walk's own findings, since the last task handed on
  PackMode mode_;
  SourceWalk sourceWalk_;         // inside the source's directories and their copies
  fs::path resolvedDestination_;  // the destination directory compared, links resolved
  CheckPool pool_;                // last: joined before the rest goes
};

}  // namespace uipcheck
