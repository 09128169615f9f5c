// ScriptStager -i INPUT -o OUTPUT -c CONFIG: stages one Lua script before it is compiled.
// Silent on success; on failure one line on stderr and a nonzero exit, with OUTPUT untouched.
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "tools/script_stager/script_stager.h"

namespace fs = std::filesystem;
namespace stager = uippack::script_stager;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kUsage =
    "usage: ScriptStager -i INPUT -o OUTPUT -c CONFIG\n"
    "  Keeps or drops the lines between --#if NAME, --#else and --#endif in the Lua script\n"
    "  INPUT and writes the result to OUTPUT, which may be INPUT. Dropped lines and directive\n"
    "  lines are left empty, so line numbers do not change. CONFIG (relative to the current\n"
    "  directory) defines one NAME or NAME=VALUE per line, # starts a comment line; a missing\n"
    "  CONFIG defines nothing.\n";

void PrintError(std::string_view message) {
  std::fprintf(stderr, "ScriptStager: %.*s\n", static_cast<int>(message.size()), message.data());
}

// Paths are shown as UTF-8 whatever the platform's native encoding.
std::string Display(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

std::string LastSystemError() { return std::generic_category().message(errno); }

struct Arguments {
  fs::path input;
  fs::path output;
  fs::path config;
};

// Returns the arguments, or nothing after printing why they are unusable.
std::optional<Arguments> ParseArguments(const std::vector<fs::path>& args) {
  Arguments parsed;
  std::string problem;
  for (std::size_t i = 0; i < args.size() && problem.empty(); i += 2) {
    const fs::path::string_type& option = args[i].native();
    fs::path* target = option == fs::path("-i").native()   ? &parsed.input
                       : option == fs::path("-o").native() ? &parsed.output
                       : option == fs::path("-c").native() ? &parsed.config
                                                           : nullptr;
    if (target == nullptr) {
      problem = "unknown argument \"" + Display(args[i]) + "\"";
    } else if (!target->empty()) {
      problem = Display(args[i]) + " given twice";
    } else if (i + 1 >= args.size() || args[i + 1].empty()) {
      problem = "missing value after " + Display(args[i]);
    } else {
      *target = args[i + 1];
    }
  }
  if (problem.empty() && (parsed.input.empty() || parsed.output.empty() || parsed.config.empty())) {
    problem = "-i, -o and -c are all required";
  }
  if (!problem.empty()) {
    PrintError(problem);
    std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
    return std::nullopt;
  }
  return parsed;
}

// Reads a whole file; on failure returns nothing and sets `error`.
std::optional<std::string> ReadWholeFile(const fs::path& path, std::string& error) {
  // Only a regular file is read (a link to one will do): a FIFO or a device could block the
  // read forever or never end.
  std::error_code statusError;
  const fs::file_status status = fs::status(path, statusError);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    error = "cannot read " + Display(path) + ": it is " +
            (fs::is_directory(status) ? "a directory" : "not a regular file");
    return std::nullopt;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + Display(path) + ": " + LastSystemError();
    return std::nullopt;
  }
  std::string contents;
  char chunk[1 << 16];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    contents.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    error = "cannot read " + Display(path);
    return std::nullopt;
  }
  return contents;
}

// Removes the temporary file unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (committed_) return;
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const fs::path& path() const { return path_; }
  void Commit() { committed_ = true; }

 private:
  fs::path path_;
  bool committed_ = false;
};

// A fresh name beside `target`. The suffix keeps a leftover (after a kill) from ever looking
// like a script to the packer, and the random part keeps parallel runs apart.
fs::path TemporaryNameBeside(const fs::path& target) {
  std::random_device randomSource;
  const std::uint64_t random = (std::uint64_t{randomSource()} << 32) | randomSource();
  char hex[17] = {};
  std::to_chars(hex, hex + 16, random, 16);
  fs::path name = target;
  name += ".";
  name += hex;
  name += ".stagetmp";
  return name;
}

// Writes `contents` to `target` by way of a temporary file renamed over it, so that `target` is
// either its old self or completely written, never half.
bool WriteReplacing(const fs::path& target, std::string_view contents, std::string& error) {
  TemporaryFile temporary(TemporaryNameBeside(target));
  {
    errno = 0;
#ifdef _WIN32
    std::FILE* out = _wfopen(temporary.path().c_str(), L"wb");
#else
    // "x": the name must be new, so nothing planted there (a link above all) is written through.
    std::FILE* out = std::fopen(temporary.path().c_str(), "wbx");
#endif
    if (out == nullptr) {
      error = "cannot create " + Display(temporary.path()) + ": " + LastSystemError();
      return false;
    }
    const bool written = std::fwrite(contents.data(), 1, contents.size(), out) == contents.size();
    if (std::fclose(out) != 0 || !written) {
      error = "cannot write " + Display(temporary.path());
      return false;
    }
  }
  // An in-place rewrite keeps the script's permissions.
  std::error_code ignored;
  const fs::file_status existing = fs::status(target, ignored);
  if (fs::is_regular_file(existing)) {
    fs::permissions(temporary.path(), existing.permissions(), ignored);
  }
  std::error_code renameError;
  fs::rename(temporary.path(), target, renameError);
  if (renameError) {
    error = "cannot replace " + Display(target) + ": " + renameError.message();
    return false;
  }
  temporary.Commit();
  return true;
}

int Run(const std::vector<fs::path>& args) {
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
    return 0;
  }
  const std::optional<Arguments> arguments = ParseArguments(args);
  if (!arguments) return kExitUsage;

  std::string error;
  stager::SymbolSet symbols;
  std::error_code ignored;
  if (fs::status(arguments->config, ignored).type() != fs::file_type::not_found) {
    const std::optional<std::string> configText = ReadWholeFile(arguments->config, error);
    if (!configText) {
      PrintError(error);
      return kExitFailure;
    }
    stager::ConfigResult config = stager::ParseConfig(*configText);
    if (config.error) {
      PrintError(Display(arguments->config) + ":" + std::to_string(config.error->line) + ": " +
                 config.error->message);
      return kExitFailure;
    }
    symbols = std::move(config.symbols);
  }

  // All of the input is read before the output is opened, so INPUT may be OUTPUT.
  const std::optional<std::string> script = ReadWholeFile(arguments->input, error);
  if (!script) {
    PrintError(error);
    return kExitFailure;
  }
  const stager::StageResult staged = stager::StageScript(*script, symbols);
  if (staged.error) {
    PrintError(Display(arguments->input) + ":" + std::to_string(staged.error->line) + ": " +
               staged.error->message);
    return kExitFailure;
  }
  // Nothing to change in place (no directives, bytecode): leave the file alone.
  if (staged.text == *script && fs::equivalent(arguments->input, arguments->output, ignored)) {
    return 0;
  }
  if (!WriteReplacing(arguments->output, staged.text, error)) {
    PrintError(error);
    return kExitFailure;
  }
  return 0;
}

}  // namespace

#ifdef _WIN32
// The wide entry point, so that paths outside the ANSI code page arrive intact.
int wmain(int argc, wchar_t* argv[]) { return Run(std::vector<fs::path>(argv + 1, argv + argc)); }
#else
int main(int argc, char* argv[]) { return Run(std::vector<fs::path>(argv + 1, argv + argc)); }
#endif
