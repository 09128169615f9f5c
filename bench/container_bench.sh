#!/bin/sh
# Wrap and unwrap of a 64 MiB and a 512 MiB archive against cp + sync of the same file.
#   bench/container_bench.sh [BUILD_DIR] [REPS]
# BUILD_DIR defaults to build/ (configured if missing); the data files go to a temporary
# directory on the same file system as BUILD_DIR, and need about 2.5 GiB.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
reps=${2:-5}

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target container_bench -j2 >/dev/null

data=$(mktemp -d "$build/container-bench.XXXXXX")
trap 'rm -rf "$data"' EXIT INT TERM
"$build/bench/container_bench" --dir "$data" --reps "$reps" 64 512
