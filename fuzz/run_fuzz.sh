#!/bin/sh
# Builds the container fuzzer (preset "fuzz", clang with libFuzzer, ASan and UBSan) and runs it
# for SECONDS (default 60). The seed corpus is written fresh by the fuzzer itself: valid
# containers of every block factor. New inputs collect in build-fuzz/fuzz/corpus; a crash
# leaves its input in build-fuzz/fuzz/ and makes the script fail.
#   fuzz/run_fuzz.sh [SECONDS]
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" --target container_fuzzer -j2

fuzzer="$build/fuzz/container_fuzzer"
seeds="$build/fuzz/seeds"
corpus="$build/fuzz/corpus"
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus"
UIPPACK_FUZZ_WRITE_SEEDS="$seeds" "$fuzzer"

exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -max_len=8192 \
  -artifact_prefix="$build/fuzz/" "$corpus" "$seeds"
