// The two checks uipcheck makes: a destination against what packing its source must give, and
// a destination on its own. The walk runs on the calling thread and lists directories only;
// the reading (each archive, each directory's files) is handed to a few worker threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

class TreeCheck {
 public:
  TreeCheck(Report& report, unsigned workers);

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

  void ComparePackedDirectory(const Place& source, const Place& destination, bool reached,
                              bool inResources);
  void CheckShippedDirectory(const Place& destination, bool inResources);
  void CheckFiles(std::vector<FileWork> files);
  void CheckLayoutOutputs(const Place& directory, bool hasContainer, bool hasArchive,
                          const Place* layoutSource);
  void CheckResourceArchive(const Place& archive, const Place* source);
  // Runs task on a worker, its findings placed here in the output.
  void Hand(CheckPool::Task task);
  bool List(const Place& directory, std::vector<TreeEntry>* entries);
  void NoteLayoutMode(const std::string& display, bool hasContainer, bool hasArchive);

  Report& report_;
  Findings* walk_;             // the walk's own findings, since the last task handed on
  std::string firstModeSite_;  // the first layout outputs seen, for the one-mode rule
  std::string firstModeOutputs_;
  SourceWalk sourceWalk_;
  CheckPool pool_;  // last: joined before the rest goes
};

// Packing removes layout directories and resource subdirectories with detached processes
// that may still run when uippack has exited. Waits while such directories are still there
// and still changing, so that a check run right after a pack does not see them half gone.
void WaitForPendingRemovals(const fs::path& destination);

}  // namespace uipcheck
