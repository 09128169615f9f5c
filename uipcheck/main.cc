// uipcheck: proves that a shipped tree is exactly the pack of its source, before it ships.
//
//   uipcheck [--json] [--mode MODE] SRC DST   DST is exactly what `uippack -p SRC DST MODE` gives
//   uipcheck [--json] [--mode MODE] DST       DST on its own is consistent
//
// It reads both trees and writes neither, and starts no program: ZIP archives are read with
// libarchive, containers with the core's container code.
#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "package/package_builder.h"
#include "package/tree_overlap.h"
#include "platform/c_runtime.h"
#include "platform/console.h"
#include "platform/process.h"
#include "platform/text.h"
#include "uipcheck/report.h"
#include "uipcheck/tree_check.h"
#include "uipcheck/tree_files.h"

namespace uipcheck {
namespace {

constexpr const char* kUsage[] = {
    "usage: uipcheck [--json] [--mode MODE] SRC DST   check that DST is exactly the pack of SRC",
    "       uipcheck [--json] [--mode MODE] DST       check DST on its own for consistency",
    "       uipcheck --version",
    "MODE as uippack takes it (\"\", -uip, or another); without it, the mode is inferred.",
    "Exit status: 0 as expected, 1 differences found, 2 bad usage or an unreadable tree."};

void PrintError(const std::string& text) {
  uippack::platform::WriteErrorLine(uippack::platform::Utf8ToWide(ShownText(text)));
}

int UsageError(const std::string& problem) {
  if (!problem.empty()) PrintError("uipcheck: " + problem);
  for (const char* line : kUsage) PrintError(line);
  return kExitUnusable;
}

struct Options {
  OutputFormat format = OutputFormat::Text;
  std::vector<fs::path> paths;
  std::optional<std::string> mode;
  bool version = false;
};

// False with *problem set (empty for a plain usage line) when the arguments are not a usage.
bool ParseArguments(const std::vector<fs::path>& arguments, Options* options,
                    std::string* problem) {
  bool optionsEnded = false;
  for (auto it = arguments.begin(); it != arguments.end(); ++it) {
    const std::string text = DisplayText(*it);
    if (!optionsEnded && text == "--version") {
      options->version = true;
      return true;
    } else if (!optionsEnded && text == "--json") {
      options->format = OutputFormat::Json;
    } else if (!optionsEnded && text.starts_with("--mode=")) {
      options->mode = text.substr(7);
    } else if (!optionsEnded && text == "--mode") {
      // The mode may be empty or begin with "-", as uippack takes it.
      if (++it == arguments.end()) {
        *problem = "--mode needs a value";
        return false;
      }
      options->mode = DisplayText(*it);
    } else if (!optionsEnded && text == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && text.size() > 1 && text[0] == '-') {
      *problem = "unknown option " + text;
      return false;
    } else {
      options->paths.push_back(PathFromArgument(*it));
    }
  }
  return !options->paths.empty() && options->paths.size() <= 2;
}

// False, after saying why, when the trees cannot be checked as given.
bool TreesUsable(const Place& destination, const std::optional<Place>& source) {
  std::error_code code;
  if (!fs::is_directory(destination.path, code)) {
    PrintError("uipcheck: " + destination.display + " is not a directory that can be read");
    return false;
  }
  if (!source) return true;
  uippack::PackageBuilder builder;
  if (builder.CheckPackSource(WidePath(source->path)) != 1) {
    PrintError("uipcheck: " + source->display +
               " is not a package directory (it needs layout/, res/, nametable.cfg and "
               "package.cfg)");
    return false;
  }
  if (uippack::TreesOverlap(WidePath(source->path), WidePath(destination.path))) {
    PrintError("uipcheck: " + destination.display + " and " + source->display +
               " are the same tree or one lies inside the other");
    return false;
  }
  return true;
}

int Run(const std::vector<fs::path>& arguments) {
  Options options;
  std::string problem;
  if (!ParseArguments(arguments, &options, &problem)) return UsageError(problem);
  if (options.version) {
    uippack::platform::WriteConsoleLine(L"uipcheck " UIPPACK_VERSION);
    return kExitMatch;
  }
  const Place destination{options.paths.back(), DisplayText(options.paths.back())};
  std::optional<Place> source;
  if (options.paths.size() == 2) {
    source = Place{options.paths.front(), DisplayText(options.paths.front())};
  }
  if (!TreesUsable(destination, source)) return kExitUnusable;

  Report report(options.format, uippack::platform::StandardErrorIsTerminal(),
                source ? std::optional<std::string>(source->display) : std::nullopt,
                destination.display);
  // Reading archives and comparing files is most of the work; it goes to a few threads.
  TreeCheck check(report, std::min(std::thread::hardware_concurrency(), 4u),
                  options.mode ? PackMode(*options.mode) : PackMode());
  if (source) {
    check.ComparePack(*source, destination);
  } else {
    check.CheckShipped(destination);
  }
  return report.Finish(check.mode().Summary(), check.mode().Json());
}

// The arguments after the program's name, as paths whatever the platform's characters.
template <typename Char>
int Main(int argc, Char** argv) {
  uippack::platform::PrepareProcess();
  // Entry names in ZIP archives are UTF-8, and libarchive hands them out through the locale's
  // character set.
  uippack::platform::UseUtf8CharacterSet();
  // libarchive turns every entry's DOS time into local time, and with TZ unset the C library
  // looks at /etc/localtime again for each one. Entry times are never compared: UTC will do.
  uippack::platform::UseUtcAsLocalTime();
  return Run(std::vector<fs::path>(argv + 1, argv + argc));
}

}  // namespace
}  // namespace uipcheck

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return uipcheck::Main(argc, argv); }
#else
int main(int argc, char** argv) { return uipcheck::Main(argc, argv); }
#endif
