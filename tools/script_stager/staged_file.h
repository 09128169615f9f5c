// ScriptStager's files: reading one whole, replacing one so that it is never half written, and
// the one line that reports a failure.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "tools/script_stager/script_stager.h"

namespace uippack::script_stager {

// The path as UTF-8 whatever the platform's native encoding, as every message shows it.
std::string Display(const std::filesystem::path& path);

// "ScriptStager: <message>" and a line end on standard error.
void PrintError(std::string_view message);
// "<file>:<line>: <message>", how the first problem found in a text is reported.
std::string ProblemAt(const std::filesystem::path& file, const TextError& error);

// Reads the whole of the regular file (a link to one will do) at path into *contents; false, with
// the reason in *error, when it cannot be read or is something else, a FIFO or a device above all.
bool ReadWholeFile(const std::filesystem::path& path, std::string* contents, std::string* error);

// Writes contents to target by way of a new temporary file beside it renamed over it, so that
// target is either its old self or completely written; a target rewritten in place keeps its
// permissions. False, with the reason in *error and no temporary file left, when it fails.
bool WriteReplacing(const std::filesystem::path& target, std::string_view contents,
                    std::string* error);

}  // namespace uippack::script_stager
