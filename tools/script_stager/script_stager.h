// ScriptStager's logic: reading the configuration and keeping or dropping the lines of a Lua
// script between --#if / --#else / --#endif. Pure functions on bytes; staged_file.h does the
// files.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace uippack::script_stager {

// The names a configuration defines. A defined name is true whatever value it was given.
using SymbolSet = std::set<std::string, std::less<>>;

// The first problem found in a text, with its 1-based line number.
struct TextError {
  std::size_t line = 0;
  std::string message;
};

// One "NAME" or "NAME=VALUE" per line. Blank lines and lines whose first non-blank character is
// "#" are skipped; "#" anywhere else is ordinary text. Blanks around the name are trimmed. A
// name is one or more of A-Z a-z 0-9 _; anything else before "=" is an error. A leading UTF-8
// BOM and CR LF line endings are accepted. Adds the names to *symbols; false, with the first
// problem in *error, when a line is not a definition.
bool ParseConfig(std::string_view configText, SymbolSet* symbols, TextError* error);

// Applies the directives of a Lua script. A directive line is optional blanks (spaces, tabs),
// then "--#" directly followed by a word: "if NAME", "else" or "endif", optionally followed by
// a Lua comment ("-- ..."). Any other word is an error, so that a mistyped or unsupported
// directive ("--#elif", "--#ifdef") cannot silently keep both branches; "--#" followed by
// something other than a letter ("--####") is an ordinary comment.
//
// Directive lines and dropped lines lose their content but keep their own line ending, so every
// remaining line keeps its number. Line endings are counted as Lua counts them ("\n", "\r",
// "\r\n" and "\n\r" each end one line). Everything else passes through byte for byte, including
// a UTF-8 BOM before the first line. Lua bytecode (first byte 0x1B) is returned unchanged.
// Puts the staged script in *staged; false, with the first problem in *error, when a directive is
// malformed or unbalanced (*staged is then meaningless).
bool StageScript(std::string_view script, const SymbolSet& symbols, std::string* staged,
                 TextError* error);

}  // namespace uippack::script_stager
