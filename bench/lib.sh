# Shared by the benchmark scripts, sourced after `set -euo pipefail`.
#
#   bench_setup BUILD_ARG NAME TARGET...
#
# Sets root and build (BUILD_ARG or build/, configured when missing), builds the targets, and
# makes a scratch directory named after NAME under $TMPDIR (default /tmp), never inside the
# repository, removed on exit unless KEEP=1. Leaves the shell in it, with its path in scratch.
bench_setup() {
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=$(cd "${1:-$root/build}" 2>/dev/null && pwd || echo "${1:-$root/build}")
  local name=$2
  shift 2
  if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target "$@" -j2 >/dev/null
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX")
  case "$scratch/" in
    "$root"/*) echo "scratch directory $scratch lies in the repository" >&2; exit 2 ;;
  esac
  trap bench_cleanup EXIT INT TERM
  cd "$scratch"
}

bench_cleanup() {
  if [ "${KEEP:-0}" = 1 ]; then
    echo "scratch kept in $scratch"
  else
    rm -rf "$scratch"
  fi
}
