#include "tools/script_stager/script_stager.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace uippack::script_stager {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr char kLuaBytecodeMark = '\x1B';

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsNameChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

std::string_view SkipBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = SkipBlanks(text);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool IsName(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsNameChar(c)) return false;
  }
  return true;
}

// Takes the leading run of characters accepted by `accept` off `text`.
template <typename Predicate>
std::string_view TakeWhile(std::string_view& text, Predicate accept) {
  std::size_t length = 0;
  while (length < text.size() && accept(text[length])) ++length;
  const std::string_view taken = text.substr(0, length);
  text.remove_prefix(length);
  return taken;
}

// After a directive's word (and name) only blanks or a Lua comment may follow.
bool IsTrailerAllowed(std::string_view rest) {
  rest = SkipBlanks(rest);
  return rest.empty() || rest.starts_with("--");
}

enum class DirectiveKind { None, If, Else, Endif };

struct Directive {
  DirectiveKind kind = DirectiveKind::None;
  std::string_view name;  // for If
  std::string error;      // set when the line is a malformed directive
};

Directive ParseDirective(std::string_view line) {
  std::string_view rest = SkipBlanks(line);
  if (!rest.starts_with("--#")) return {};
  rest.remove_prefix(3);
  const std::string_view word = TakeWhile(rest, IsLetter);
  if (word.empty()) return {};

  Directive directive;
  if (word == "else" || word == "endif") {
    directive.kind = word == "else" ? DirectiveKind::Else : DirectiveKind::Endif;
    if (!IsTrailerAllowed(rest)) {
      directive.error = "unexpected text after --#" + std::string(word);
    }
    return directive;
  }
  if (word != "if") {
    directive.error = "unknown directive --#" + std::string(word);
    return directive;
  }

  directive.kind = DirectiveKind::If;
  if (!rest.empty() && !IsBlank(rest.front())) {
    directive.error = "expected a blank between --#if and its name";
    return directive;
  }
  rest = SkipBlanks(rest);
  if (rest.empty() || rest.starts_with("--")) {
    directive.error = "--#if without a name";
    return directive;
  }
  std::string_view token = rest.substr(0, rest.find_first_of(" \t"));
  directive.name = TakeWhile(rest, IsNameChar);
  if (directive.name.size() != token.size()) {
    directive.error = "invalid name \"" + std::string(token) + "\" in --#if (use A-Z a-z 0-9 _)";
  } else if (!IsTrailerAllowed(rest)) {
    directive.error = "unexpected text after --#if " + std::string(directive.name);
  }
  return directive;
}

// One line and the bytes that end it, split as Lua's lexer counts lines.
struct Line {
  std::string_view content;
  std::string_view ending;
};

Line TakeLine(std::string_view& text) {
  const std::size_t contentEnd = std::min(text.find_first_of("\r\n"), text.size());
  std::size_t lineEnd = contentEnd;
  if (lineEnd < text.size()) {
    ++lineEnd;
    // A CR LF or LF CR pair is a single line break; CR CR or LF LF are two.
    if (lineEnd < text.size() && (text[lineEnd] == '\r' || text[lineEnd] == '\n') &&
        text[lineEnd] != text[contentEnd]) {
      ++lineEnd;
    }
  }
  const Line line{text.substr(0, contentEnd), text.substr(contentEnd, lineEnd - contentEnd)};
  text.remove_prefix(lineEnd);
  return line;
}

// One open --#if while walking a script.
struct OpenBranch {
  std::size_t ifLine = 0;
  bool condition = false;
  bool inElse = false;
  bool enclosingKept = true;  // whether the lines around this --#if are kept

  bool Keeps() const { return enclosingKept && (inElse ? !condition : condition); }
};

}  // namespace

bool ParseConfig(std::string_view configText, SymbolSet* symbols, TextError* error) {
  if (configText.starts_with(kUtf8Bom)) configText.remove_prefix(kUtf8Bom.size());
  std::size_t lineNumber = 0;
  while (!configText.empty()) {
    ++lineNumber;
    const std::string_view line = Trim(TakeLine(configText).content);
    if (line.empty() || line.front() == '#') continue;
    const std::string_view name = Trim(line.substr(0, line.find('=')));
    if (name.empty()) {
      *error = TextError{lineNumber, "missing name before \"=\""};
      return false;
    }
    if (!IsName(name)) {
      *error = TextError{lineNumber, "invalid name \"" + std::string(name) +
                                         "\" (use A-Z a-z 0-9 _; comments need a line of their "
                                         "own)"};
      return false;
    }
    symbols->emplace(name);
  }
  return true;
}

bool StageScript(std::string_view script, const SymbolSet& symbols, std::string* staged,
                 TextError* error) {
  std::string& out = *staged;
  out.clear();
  if (!script.empty() && script.front() == kLuaBytecodeMark) {
    out.assign(script);
    return true;
  }

  out.reserve(script.size());
  if (script.starts_with(kUtf8Bom)) {
    out.append(kUtf8Bom);
    script.remove_prefix(kUtf8Bom.size());
  }

  std::vector<OpenBranch> openBranches;
  auto keeping = [&openBranches] { return openBranches.empty() || openBranches.back().Keeps(); };
  auto fail = [error](std::size_t line, std::string message) {
    *error = TextError{line, std::move(message)};
    return false;
  };

  std::size_t lineNumber = 0;
  while (!script.empty()) {
    ++lineNumber;
    const Line line = TakeLine(script);
    const Directive directive = ParseDirective(line.content);
    if (!directive.error.empty()) return fail(lineNumber, directive.error);

    switch (directive.kind) {
      case DirectiveKind::None:
        if (keeping()) out.append(line.content);
        break;
      case DirectiveKind::If:
        openBranches.push_back({lineNumber, symbols.contains(directive.name), false, keeping()});
        break;
      case DirectiveKind::Else:
        if (openBranches.empty()) return fail(lineNumber, "--#else without --#if");
        if (openBranches.back().inElse) {
          return fail(lineNumber, "second --#else for the --#if on line " +
                                      std::to_string(openBranches.back().ifLine));
        }
        openBranches.back().inElse = true;
        break;
      case DirectiveKind::Endif:
        if (openBranches.empty()) return fail(lineNumber, "--#endif without --#if");
        openBranches.pop_back();
        break;
    }
    out.append(line.ending);
  }
  if (!openBranches.empty()) return fail(openBranches.back().ifLine, "--#if without --#endif");
  return true;
}

}  // namespace uippack::script_stager
