#!/bin/sh
# Builds the fuzzers (preset "fuzz", clang with libFuzzer, ASan and UBSan) and runs them side by
# side for SECONDS each (default 60): the container fuzzer, and uipcheck's fuzzer of its archive
# and container checks. The seed corpora are written fresh: valid containers of every block
# factor by the container fuzzer itself; for uipcheck's, archives it writes byte by byte and
# archives 7-Zip makes (stored and deflated), each behind the byte that picks the way it is
# read. New inputs collect in build-fuzz/fuzz/corpus*; a crash leaves its input in
# build-fuzz/fuzz/ and makes the script fail.
#   fuzz/run_fuzz.sh [SECONDS]
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

cd "$root"
cmake --preset fuzz >/dev/null
cmake --build "$build" --target container_fuzzer uipcheck_fuzzer -j2

out="$build/fuzz"
rm -rf "$out/seeds" "$out/seeds-uipcheck" "$out/seeds-7z"
mkdir -p "$out/seeds" "$out/seeds-uipcheck" "$out/seeds-7z/tree/sub" "$out/corpus" \
  "$out/corpus-uipcheck"
UIPPACK_FUZZ_WRITE_SEEDS="$out/seeds" "$out/container_fuzzer"
UIPPACK_FUZZ_WRITE_SEEDS="$out/seeds-uipcheck" "$out/uipcheck_fuzzer"
sevenzip=$(command -v 7zz || command -v 7z || true)
if [ -n "$sevenzip" ]; then
  printf 'text of a file\n' >"$out/seeds-7z/tree/a.txt"
  printf 'print(1)\n' >"$out/seeds-7z/tree/sub/b.lua"
  for level in 0 9; do
    (cd "$out/seeds-7z/tree" && "$sevenzip" a -tzip -mx=$level "../$level.zip" . >/dev/null)
    for way in 0 1 2; do
      { printf "\\$way"; cat "$out/seeds-7z/$level.zip"; } >"$out/seeds-uipcheck/7z-$level-$way"
    done
  done
fi

status=0
"$out/container_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -max_len=8192 \
  -artifact_prefix="$out/" "$out/corpus" "$out/seeds" >"$out/container.log" 2>&1 &
container=$!
"$out/uipcheck_fuzzer" -max_total_time="$seconds" -print_final_stats=1 -max_len=8192 \
  -artifact_prefix="$out/uipcheck-" "$out/corpus-uipcheck" "$out/seeds-uipcheck" \
  >"$out/uipcheck.log" 2>&1 || status=$?
wait "$container" || status=$?
for log in container uipcheck; do
  echo "== $log fuzzer"
  grep -E '^(stat::|Done|==[0-9]+==ERROR|SUMMARY)' "$out/$log.log" || tail -20 "$out/$log.log"
done
exit "$status"
