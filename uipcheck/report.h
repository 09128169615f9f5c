// What a check found. The work is done in parts, some on worker threads; each part collects
// its own findings, and the parts are printed in the order they were opened: the oldest part
// not yet complete prints its lines as they come, the later ones hold a few and then wait for
// their turn. So the output is the same whatever the threads do, lines come out as they are
// found, and memory does not grow with the differences: one line per difference (in the JSON,
// one element per line), then a summary. A progress line goes to a terminal for long checks.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uipcheck {

enum class OutputFormat { Text, Json };

// Exit statuses: the trees match, they differ, or the check could not be made.
inline constexpr int kExitMatch = 0;
inline constexpr int kExitDiffer = 1;
inline constexpr int kExitUnusable = 2;

struct CheckCounters {
  std::atomic<std::uint64_t> files{0};
  std::atomic<std::uint64_t> archives{0};
  std::atomic<std::uint64_t> bytes{0};
};

class Report;

// The findings of one part of the check, filled by one thread at a time.
class Findings {
 public:
  Findings(Report& report, CheckCounters& counters) : report_(report), counters_(counters) {}

  // path: where the difference lies; expected and found: short phrases ("file", "nothing",
  // "Lua 5.4 bytecode", ...).
  void Difference(std::string path, std::string expected, std::string found);
  // Something that exists but cannot be read: listed like a difference, and the verdict can
  // then only be "unreadable".
  void Unreadable(std::string path, std::string error);

  void CountFile() { counters_.files.fetch_add(1, std::memory_order_relaxed); }
  void CountArchive() { counters_.archives.fetch_add(1, std::memory_order_relaxed); }
  void Advance(std::uint64_t bytes) { counters_.bytes.fetch_add(bytes, std::memory_order_relaxed); }

 private:
  friend class Report;
  struct Line {
    std::string path;
    std::string expected;
    std::string found;
  };
  Report& report_;
  CheckCounters& counters_;
  // Guarded by the report's mutex:
  std::vector<Line> held_;  // lines waiting for the part's turn
  bool complete_ = false;
};

class Report {
 public:
  // source is absent when only the destination is checked. With showProgress, a progress line
  // goes to standard error once the check has taken progressDelay: quick checks end without one.
  Report(OutputFormat format, bool showProgress, std::optional<std::string> source,
         std::string destination,
         std::chrono::milliseconds progressDelay = std::chrono::milliseconds(1500));

  // A new part, placed after every part opened before it. Any thread may fill it; Complete
  // hands it back.
  Findings& Open();
  void Complete(Findings& part);
  // Waits while many complete parts wait for an earlier one, before more are opened.
  void WaitForRoom();

  // On the main thread: redraws the progress line when it is due.
  void ShowProgress();

  // Waits until every part is complete, prints the summary line or closes the JSON document
  // and gives the exit status. mode and modeJson: the run's mode, as text and as JSON.
  int Finish(const std::string& mode, const std::string& modeJson);

 private:
  friend class Findings;
  void Add(Findings& part, Findings::Line line, bool unreadable);
  void PrintCompleteParts();  // with mutex_ held
  void PrintLine(const Findings::Line& line);
  void ShowProgressLocked();
  void ClearProgress();

  OutputFormat format_;
  bool showProgress_;
  std::chrono::milliseconds progressDelay_;
  std::optional<std::string> source_;
  std::string destination_;
  CheckCounters counters_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Findings>> parts_;  // not yet printed, in output order
  std::size_t differences_ = 0;
  std::size_t unreadable_ = 0;
  std::size_t printed_ = 0;  // lines printed so far
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastProgress_;
  std::size_t progressWidth_ = 0;  // what is on the terminal's last line, 0 when nothing
};

// "1 byte", "12 bytes": a count of bytes as the messages give it.
std::string Bytes(std::uint64_t count);
// A CRC-32 as the messages give it: 0x and eight upper-case hex digits.
std::string Hex32(std::uint32_t value);

// Names come from trees and archives that anybody may have made, and must not act on the
// terminal nor forge a line of the report: control characters are escaped, in both forms.

// Text as a JSON string literal; control characters and bytes that are not UTF-8 become \u00XX.
std::string JsonString(std::string_view text);
// Text as printed: a control character becomes \xNN (\u00NN for U+0080..U+009F), and so does a
// byte that is not UTF-8.
std::string ShownText(std::string_view text);

}  // namespace uipcheck
