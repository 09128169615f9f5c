#include "uipcheck/report.h"

#include <cstdio>
#include <utility>

#include "platform/console.h"
#include "platform/text.h"
#include "uipcheck/tree_files.h"

namespace uipcheck {
namespace {

using Clock = std::chrono::steady_clock;

// A progress line is redrawn a few times a second.
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

void WriteLine(const std::string& text) {
  uippack::platform::WriteConsoleLine(uippack::platform::Utf8ToWide(text));
}

std::string Counted(std::uint64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// C0 controls, DEL and the C1 controls (U+0080..U+009F, two bytes in UTF-8): what a terminal
// may act on rather than show.
bool IsControl(std::string_view text, std::size_t at, std::size_t length) {
  const auto c = static_cast<unsigned char>(text[at]);
  if (length == 2) return c == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F;
  return length == 1 && (c < 0x20 || c == 0x7F);
}

// Text with every control character and every byte that is not UTF-8 replaced by escape(c),
// the code point of a control, the byte otherwise.
template <typename Escape>
std::string Escaped(std::string_view text, Escape escape) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const auto c = static_cast<unsigned char>(text[at]);
    const std::size_t length = uippack::platform::Utf8SequenceLength(text, at);
    if (length == 0) {
      out += escape(c, false);
      ++at;
    } else if (IsControl(text, at, length)) {
      out += escape(length == 2 ? static_cast<unsigned char>(text[at + 1]) : c, true);
      at += length;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}

}  // namespace

std::string Bytes(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string Hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string JsonString(std::string_view text) {
  std::string quoted;
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return "\"" +
         Escaped(quoted,
                 [](unsigned char c, bool) {
                   char escape[8];
                   std::snprintf(escape, sizeof escape, "\\u%04x", c);
                   return std::string(escape);
                 }) +
         "\"";
}

std::string ShownText(std::string_view text) {
  return Escaped(text, [](unsigned char c, bool control) {
    char escape[8];
    std::snprintf(escape, sizeof escape, control && c >= 0x80 ? "\\u%04x" : "\\x%02x", c);
    return std::string(escape);
  });
}

// A later part holds this many lines, then waits until the parts before it are printed.
constexpr std::size_t kMostHeldLines = 256;
// Complete parts waiting for an earlier one, before the walk opens more.
constexpr std::size_t kMostWaitingParts = 256;

void Findings::Difference(std::string path, std::string expected, std::string found) {
  report_.Add(*this, {std::move(path), std::move(expected), std::move(found)}, false);
}

void Findings::Unreadable(std::string path, std::string error) {
  report_.Add(*this, {std::move(path), "a readable entry", "an error: " + std::move(error)}, true);
}

Report::Report(OutputFormat format, bool showProgress, std::optional<std::string> source,
               std::string destination, std::chrono::milliseconds progressDelay)
    : format_(format),
      showProgress_(showProgress),
      progressDelay_(progressDelay),
      source_(std::move(source)),
      destination_(std::move(destination)),
      start_(Clock::now()),
      lastProgress_(start_ - kProgressInterval) {}

Findings& Report::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  parts_.push_back(std::make_unique<Findings>(*this, counters_));
  return *parts_.back();
}

void Report::Complete(Findings& part) {
  std::lock_guard<std::mutex> lock(mutex_);
  part.complete_ = true;
  PrintCompleteParts();
  changed_.notify_all();
}

void Report::WaitForRoom() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return parts_.size() < kMostWaitingParts; });
}

// The oldest part prints at once; a later one holds its lines, and once it holds many, waits
// for its turn. Parts are handed to the workers in order, so the parts before a waiting one
// are all running, the oldest of them never waits (what a part held is printed as it becomes
// the oldest), and the wait ends.
void Report::Add(Findings& part, Findings::Line line, bool unreadable) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++(unreadable ? unreadable_ : differences_);
  changed_.wait(lock, [&] { return part.held_.size() < kMostHeldLines; });
  if (parts_.front().get() == &part) {
    PrintLine(line);
  } else {
    part.held_.push_back(std::move(line));
  }
}

void Report::PrintCompleteParts() {
  while (!parts_.empty()) {
    Findings& part = *parts_.front();
    for (const Findings::Line& line : part.held_) PrintLine(line);
    part.held_.clear();
    if (!part.complete_) return;  // the front part prints its further lines as they come
    parts_.pop_front();
  }
}

void Report::PrintLine(const Findings::Line& line) {
  if (format_ == OutputFormat::Json) {
    if (printed_ == 0) {
      WriteLine("{\"source\":" + (source_ ? JsonString(*source_) : std::string("null")) +
                ",\"destination\":" + JsonString(destination_) + ",\"differences\":[");
    }
    WriteLine((printed_ == 0 ? "{\"path\":" : ",{\"path\":") + JsonString(line.path) +
              ",\"expected\":" + JsonString(line.expected) +
              ",\"found\":" + JsonString(line.found) + "}");
  } else {
    ClearProgress();
    WriteLine(ShownText(line.path + ": expected " + line.expected + ", found " + line.found));
  }
  ++printed_;
}

void Report::ShowProgress() {
  if (!showProgress_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  ShowProgressLocked();
}

void Report::ShowProgressLocked() {
  const Clock::time_point now = Clock::now();
  if (now - start_ < progressDelay_ || now - lastProgress_ < kProgressInterval) return;
  lastProgress_ = now;
  const std::string text = "uipcheck: " + Counted(counters_.files.load(), "file", "files") + ", " +
                           Counted(counters_.archives.load(), "archive", "archives") + ", " +
                           Megabytes(counters_.bytes.load()) + " read";
  // The counts only grow, so each line covers the one before it. Standard error is unbuffered.
  progressWidth_ = text.size();
  std::fputs(("\r" + text).c_str(), stderr);
}

void Report::ClearProgress() {
  if (progressWidth_ == 0) return;
  std::fputs(("\r" + std::string(progressWidth_, ' ') + "\r").c_str(), stderr);
  progressWidth_ = 0;
}

int Report::Finish(const std::string& mode, const std::string& modeJson) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!parts_.empty()) {
      changed_.wait_for(lock, kProgressInterval);
      if (showProgress_) ShowProgressLocked();
    }
    ClearProgress();
  }
  const int status = unreadable_ > 0 ? kExitUnusable : differences_ > 0 ? kExitDiffer : kExitMatch;
  const std::uint64_t files = counters_.files.load();
  const std::uint64_t archives = counters_.archives.load();
  const std::uint64_t bytes = counters_.bytes.load();
  if (format_ == OutputFormat::Json) {
    const std::string verdict = status == kExitMatch    ? "match"
                                : status == kExitDiffer ? "differ"
                                                        : "unreadable";
    const std::string head =
        printed_ > 0 ? std::string("]")
                     : "{\"source\":" + (source_ ? JsonString(*source_) : std::string("null")) +
                           ",\"destination\":" + JsonString(destination_) + ",\"differences\":[]";
    WriteLine(head + ",\"verdict\":\"" + verdict + "\",\"mode\":" + modeJson +
              ",\"checked\":{\"files\":" + std::to_string(files) + ",\"archives\":" +
              std::to_string(archives) + ",\"bytes\":" + std::to_string(bytes) + "}}");
    return status;
  }
  const std::string counts = " (" + Counted(files, "file", "files") + " and " +
                             Counted(archives, "archive", "archives") + " checked, " +
                             Megabytes(bytes) + " read; " + mode + ")";
  const std::string& destination = destination_;
  std::string verdict;
  if (status == kExitMatch) {
    verdict =
        source_ ? destination + " is the pack of " + *source_ : destination + " is consistent";
  } else if (status == kExitDiffer) {
    verdict = (source_ ? destination + " is not the pack of " + *source_
                       : destination + " is not consistent") +
              ": " + Counted(differences_, "difference", "differences");
  } else {
    verdict = destination + " could not be checked" + (source_ ? " against " + *source_ : "") +
              ": " + Counted(unreadable_, "unreadable entry", "unreadable entries") + ", " +
              Counted(differences_, "difference", "differences");
  }
  WriteLine(ShownText("uipcheck: " + verdict + counts));
  return status;
}

}  // namespace uipcheck
