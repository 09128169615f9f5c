#!/usr/bin/env bash
# `cmake --install` of BUILD gives the same shape under any prefix: the programs and the links to
# 7-Zip and the Lua compiler in PREFIX/libexec/uippack, relative links to uippack and uipcheck in
# PREFIX/bin and nothing else there, the manual pages and the documents. Under /usr every link
# is relative, as Debian wants; elsewhere the tool links lead to the system's tools by their
# absolute paths. Then the installed uippack packs the example from another directory and the
# installed uipcheck accepts the pack.
set -euo pipefail

build="$(cd "$1" && pwd)"
archiver="$2"      # the system's 7-Zip and Lua compiler that the build found
lua_compiler="$3"
root="$(cd "$(dirname "$0")/.." && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
failed=0

# What PREFIX holds, one "TYPE PATH [-> TARGET]" line per entry, relative to PREFIX; a directory
# shows by what it holds, an empty one by itself.
shape() { (cd "$1" && find . -mindepth 1 \( -type l -printf '%y %P -> %l\n' \) -o \( -type d ! -empty \) -o -printf '%y %P\n' | LC_ALL=C sort); }

# The link text from the folder of the link to the target: relative when both lie under the
# same top-level folder.
expected_link() {
  [ "$(cut -d/ -f2 <<<"$1")" = "$(cut -d/ -f2 <<<"$2")" ] && realpath -m --relative-to="$1" "$2" || echo "$2"
}

for prefix in /usr /opt/uippack; do
  stage="$scratch/stage$(echo "$prefix" | tr / _)"
  DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"
  tools="$prefix/libexec/uippack"
  if ! diff -u <(printf '%s\n' "l bin/uipcheck -> ../libexec/uippack/uipcheck" \
    "l bin/uippack -> ../libexec/uippack/uippack" \
    "l libexec/uippack/7z -> $(expected_link "$tools" "$archiver")" \
    "l libexec/uippack/luac -> $(expected_link "$tools" "$lua_compiler")" \
    "f libexec/uippack/"{ScriptStager,uipcheck,uippack} \
    "f share/doc/uippack/"{README.md.gz,changelog.gz,copyright} \
    "f share/lintian/overrides/uippack" "f share/man/man1/"{ScriptStager,uipcheck,uippack}.1.gz |
    LC_ALL=C sort) <(shape "$stage$prefix"); then
    echo "FAILED: the shape installed under $prefix (expected -, found +)"
    failed=1
  fi
  gzip -t "$stage$prefix/share/man/man1/"*.1.gz || failed=1  # the three the shape names
done

# The links of /opt/uippack lead to the system's tools wherever the stage lies.
installed="$scratch/stage_opt_uippack/opt/uippack"
mkdir "$scratch/elsewhere" && cd "$scratch/elsewhere"
if ! "$installed/bin/uippack" -p "$root/examples/demo" out >"$scratch/pack.log" ||
  ! "$installed/bin/uipcheck" "$root/examples/demo" out; then
  cat "$scratch/pack.log"
  echo "FAILED: the installed uippack did not pack the example, or uipcheck did not accept it"
  failed=1
fi
exit $failed
