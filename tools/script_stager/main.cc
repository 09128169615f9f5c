// ScriptStager -i INPUT -o OUTPUT -c CONFIG: stages one Lua script before it is compiled.
// Silent on success; on failure one line on stderr and a nonzero exit, with OUTPUT untouched.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tools/script_stager/script_stager.h"
#include "tools/script_stager/staged_file.h"

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

// Reports the failure; gives the exit status that goes with it.
int Failed(std::string_view message) {
  stager::PrintError(message);
  return kExitFailure;
}

struct Arguments {
  fs::path input;
  fs::path output;
  fs::path config;
};

// Fills *parsed; false after printing why the arguments are unusable.
bool ParseArguments(const std::vector<fs::path>& args, Arguments* arguments) {
  Arguments& parsed = *arguments;
  std::string problem;
  for (std::size_t i = 0; i < args.size() && problem.empty(); i += 2) {
    const fs::path::string_type& option = args[i].native();
    fs::path* target = option == fs::path("-i").native()   ? &parsed.input
                       : option == fs::path("-o").native() ? &parsed.output
                       : option == fs::path("-c").native() ? &parsed.config
                                                           : nullptr;
    if (target == nullptr) {
      problem = "unknown argument \"" + stager::Display(args[i]) + "\"";
    } else if (!target->empty()) {
      problem = stager::Display(args[i]) + " given twice";
    } else if (i + 1 >= args.size() || args[i + 1].empty()) {
      problem = "missing value after " + stager::Display(args[i]);
    } else {
      *target = args[i + 1];
    }
  }
  if (problem.empty() && (parsed.input.empty() || parsed.output.empty() || parsed.config.empty())) {
    problem = "-i, -o and -c are all required";
  }
  if (!problem.empty()) {
    stager::PrintError(problem);
    std::fwrite(kUsage.data(), 1, kUsage.size(), stderr);
    return false;
  }
  return true;
}

int Run(const std::vector<fs::path>& args) {
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
    return 0;
  }
  Arguments arguments;
  if (!ParseArguments(args, &arguments)) return kExitUsage;

  std::string error;
  stager::TextError textError;
  stager::SymbolSet symbols;
  std::error_code ignored;
  if (fs::status(arguments.config, ignored).type() != fs::file_type::not_found) {
    std::string configText;
    if (!stager::ReadWholeFile(arguments.config, &configText, &error)) return Failed(error);
    if (!stager::ParseConfig(configText, &symbols, &textError)) {
      return Failed(stager::ProblemAt(arguments.config, textError));
    }
  }

  // All of the input is read before the output is opened, so INPUT may be OUTPUT.
  std::string script, staged;
  if (!stager::ReadWholeFile(arguments.input, &script, &error)) return Failed(error);
  if (!stager::StageScript(script, symbols, &staged, &textError)) {
    return Failed(stager::ProblemAt(arguments.input, textError));
  }
  // Nothing to change in place (no directives, bytecode): leave the file alone.
  if (staged == script && fs::equivalent(arguments.input, arguments.output, ignored)) return 0;
  if (!stager::WriteReplacing(arguments.output, staged, &error)) {
    return Failed(error);
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
