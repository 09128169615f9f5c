# Shared by the Wine end-to-end tests: where things are, how uippack.exe is run, what our own
# console lines are, and small assertions. Sourced by each *_test.sh, after which the script
# defines its cases as functions named case_* and calls run_cases.
# shellcheck disable=SC2034 # the variables here are used by the scripts that source this
set -euo pipefail

WINE_TESTS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SOURCE_DIR="$(cd "$WINE_TESTS_DIR/../.." && pwd)"
BUILD_DIR="$(cd "${UIPPACK_WIN64_BUILD:-$SOURCE_DIR/build/win64}" && pwd)"
BIN_DIR="$BUILD_DIR/bin"
UIPPACK_EXE="$BIN_DIR/uippack.exe"

export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wine/prefix}" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="winemenubuilder.exe,mscoree,mshtml=d"
# The Windows locale follows the Unix one: C.UTF-8 gives the ANSI code page 1252, and the
# arguments reach wmain intact because the Unix side is UTF-8.
export LANG=C.UTF-8
unset LC_ALL LC_CTYPE

for needed in "$UIPPACK_EXE" "$BIN_DIR/ScriptStager.exe" "$BIN_DIR/7z.exe" "$BIN_DIR/luac.exe"; do
  [ -f "$needed" ] || {
    echo "missing $needed: build the win64 preset and run tests/wine/setup.sh" >&2
    exit 1
  }
done
# Keeps one Wine server up for the whole script instead of one per program start; it ends by
# itself a minute after the last Windows process.
wineserver -p60 2>/dev/null || true  # one may be running already

# Each script works in its own scratch directory in the build tree, removed at the end.
mkdir -p "$BUILD_DIR/wine/scratch"
SCRATCH="$(mktemp -d "$BUILD_DIR/wine/scratch/$(basename "$0" .sh).XXXXXX")"
trap 'rm -rf "$SCRATCH"' EXIT

CR=$'\r'
TAB=$'\t'

# The Windows form of a Unix path, through Wine's drive Z: (mapped to /).
winpath() {
  local path="$1"
  printf 'Z:%s' "${path//\//\\}"
}

# The Windows form of the tool directory, as uippack prints it inside a command line.
TOOL_DIR_WIN="$(winpath "$BIN_DIR")"

# run_uippack OUTPUT_PREFIX ARG...: runs uippack.exe from the current directory, stdout to
# OUTPUT_PREFIX.out, stderr to OUTPUT_PREFIX.err, and the exit status (255 for -1) to RC. Then
# waits for the removals the run started, so that what a case finds afterwards is final.
RC=0
run_uippack() {
  local prefix="$1"
  shift
  RC=0
  wine "$UIPPACK_EXE" "$@" >"$prefix.out" 2>"$prefix.err" || RC=$?
  wait_for_removals
}

# Our own lines from a run's stdout, each with its CR LF. The tools share the console and
# interleave their output with ours; under Wine they even reach a redirected stdout (on
# Windows a child that inherits no handles does not write there), so only lines that begin as
# ours are kept.
our_lines() {
  grep -a -E "^(Start (packing|unpacking) uip files|PreCompile |Compile |Compress |Decompress |Pack |Unpack |No valid uip files|Refused: )" "$1" || true
}

# Lines given as arguments, each ended with CR LF: the bytes uippack writes for them.
crlf_lines() {
  local line
  for line in "$@"; do printf '%s\r\n' "$line"; done
}

# wait_gone PATH...: the removals run detached and may still be running after uippack ended;
# polls until every PATH is gone (20 s at most).
wait_gone() {
  local path
  local tries=0
  for path in "$@"; do
    while [ -e "$path" ] && [ $tries -lt 200 ]; do
      sleep 0.1
      tries=$((tries + 1))
    done
  done
}

# Waits until no removal started by uippack (WinExec of cmd.exe /c rd or del) has been running
# for a while (30 s at most). The removals are started before uippack ends, but a new process
# may take a moment to show its command line, hence the quiet period.
wait_for_removals() {
  local tries=0 quiet=0
  while [ $quiet -lt 3 ] && [ $tries -lt 300 ]; do
    if pgrep -f 'cmd\.exe.* /c (rd|del) ' >/dev/null 2>&1; then quiet=0; else quiet=$((quiet + 1)); fi
    sleep 0.1
    tries=$((tries + 1))
  done
}

# A listing of a tree that shows any change: every entry with its kind, every file with its
# checksum. Extra find arguments (such as -path ./out -prune -o) come after the directory.
tree_listing() {
  local directory="$1"
  shift
  (cd "$directory" && find . "$@" -printf '%y %p\n' | LC_ALL=C sort &&
    find . "$@" -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum)
}

# Writes a minimal valid package into DIRECTORY.
make_package() {
  local directory="$1"
  mkdir -p "$directory/layout" "$directory/res/images"
  printf 'print("main")\n' >"$directory/layout/main.lua"
  printf 'image\n' >"$directory/res/images/a.png"
  printf 'names\n' >"$directory/nametable.cfg"
  printf 'package\n' >"$directory/package.cfg"
}

# True when FILE is Lua 5.4 bytecode.
is_bytecode() {
  [ "$(head -c 5 "$1" | od -An -tx1 | tr -d ' \n')" = 1b4c756154 ]
}

# The entries of a zip as 7-Zip lists them: "Path<TAB>Method" per file.
zip_entries() {
  7zz l -slt "$1" | awk -F' = ' '
    /^Path = / { path = $2 }
    /^Folder = / { folder = $2 }
    /^Method = / { if (folder != "+") print path "\t" $2 }' | LC_ALL=C sort
}

# --- assertions --------------------------------------------------------------------------

CASE_DIR=""

# Marks the running case as failed and says why; the case goes on, to show every difference.
fail() {
  echo "    FAIL: $*"
  touch "$CASE_DIR/.failed"
}

# expect_same_file WHAT EXPECTED_FILE ACTUAL_FILE
expect_same_file() {
  if ! cmp -s "$2" "$3"; then
    fail "$1 differs (expected, then actual):"
    diff <(od -c "$2") <(od -c "$3") | head -40 | sed 's/^/      /' || true
  fi
}

# expect_lines WHAT ACTUAL_FILE LINE...: the file holds exactly these lines, each ended with
# CR LF.
expect_lines() {
  local what="$1" actual="$2"
  shift 2
  crlf_lines "$@" >"$CASE_DIR/.expected"
  expect_same_file "$what" "$CASE_DIR/.expected" "$actual"
}

expect_eq() {
  [ "$2" = "$3" ] && return
  if [[ "$2$3" == *$'\n'* ]]; then
    fail "$1 differs (- expected, + actual):"
    diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") | tail -n +3 | sed 's/^/      /' || true
  else
    fail "$1: expected [$2], got [$3]"
  fi
}

expect_exists() {
  local path
  for path in "$@"; do [ -e "$path" ] || fail "missing: $path"; done
  return 0
}

expect_absent() {
  local path
  for path in "$@"; do [ ! -e "$path" ] || fail "should not exist: $path"; done
  return 0
}

# --- running the cases -----------------------------------------------------------------------

# Runs every case_* function (or those whose names match the pattern in UIPPACK_WINE_CASES) in
# its own directory under the scratch directory, which is also its current directory (the
# destination's parent in most cases, so that anything a split path touched there would show).
# A command that fails unexpectedly fails the case too.
run_cases() {
  local passed=0 failed=0 name status
  for name in $(declare -F | awk '{ print $3 }' | grep '^case_' |
    grep -E -- "${UIPPACK_WINE_CASES:-.}"); do
    CASE_DIR="$SCRATCH/${name#case_}"
    mkdir -p "$CASE_DIR"
    echo "--- ${name#case_}"
    set +e
    (
      set -e
      cd "$CASE_DIR"
      "$name"
    )
    status=$?
    set -e
    if [ $status -ne 0 ] || [ -f "$CASE_DIR/.failed" ]; then
      [ $status -eq 0 ] || echo "    FAIL: a command of the case failed (status $status)"
      echo "not ok - ${name#case_}"
      failed=$((failed + 1))
    else
      echo "ok - ${name#case_}"
      passed=$((passed + 1))
    fi
    wait_for_removals
  done
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
