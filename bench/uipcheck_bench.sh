#!/usr/bin/env bash
# uipcheck on the generated package of about 200 MB (bench/make_package.cc), packed by uippack,
# next to checking the same tree by hand: `7zz t` over its archives plus `cmp` of every file
# packing leaves untouched. The two run back to back in each round, alternating which goes
# first; the ratio is taken per round, then the median.
#
#   bench/uipcheck_bench.sh [BUILD_DIR] [REPS]
#
# BUILD_DIR defaults to build/ (configured if missing); REPS (default 5) is the number of
# rounds. The page cache is warm for both. The scratch data (about 450 MB) goes to a new
# directory under $TMPDIR (default /tmp), never into the repository; set KEEP=1 to keep it.
set -euo pipefail
reps=${2:-5}
seed=20240601
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
bench_setup "${1:-}" uipcheck-bench uippack ScriptStager uipcheck make_package measure_run
bin=$build/bin
measure=$build/bench/measure_run

echo "== generating (seed $seed) and packing"
"$build/bench/make_package" package pkg --seed "$seed"
"$bin/uippack" -p pkg packed >pack.log 2>&1 || { tail -5 pack.log >&2; exit 1; }
# The detached removals outlive the run; the measurements start once they are done.
while [ -n "$(find packed -type d \( -name layout -o -path '*/res/*' \) -print -quit)" ]; do
  sleep 0.1
done

# The manual check: every archive tested by 7-Zip in one run, every file that packing copies
# unchanged compared with cmp. Packing compiles scripts and archives everything else of the
# bench package, so the untouched files are those outside archives that are not scripts.
find packed -type f -name '*.zip' | sort >archives.txt
(cd packed && find . -type f ! -name '*.zip' ! -name '*.uip' ! -name '*.lua' | sort) >untouched.txt
cat >manual.sh <<EOF
set -e
"$bin/7z" t -an -ai@archives.txt >/dev/null
while IFS= read -r file; do cmp -s "pkg/\$file" "packed/\$file"; done <untouched.txt
EOF
find pkg packed -type f -exec cat {} + >/dev/null  # warm the page cache for both contenders

"$measure" check.log "$bin/uipcheck" pkg packed >/dev/null
if ! grep -q "^uipcheck: packed is the pack of pkg " check.log; then
  echo "uipcheck does not pass the clean pack:" >&2
  tail -5 check.log >&2
  exit 1
fi

field() { awk -v k="$1" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
: >results
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((rep = 1; rep <= reps; rep++)); do
  for contender in $([ $((rep % 2)) = 1 ] && echo "uipcheck manual" || echo "manual uipcheck"); do
    if [ "$contender" = uipcheck ]; then
      line=$("$measure" check.log "$bin/uipcheck" pkg packed)
      alone=$("$measure" alone.log "$bin/uipcheck" packed)
      echo "$rep alone $(echo "$alone" | field wall_seconds) $(echo "$alone" | field peak_rss_kib)" >>results
    else
      line=$("$measure" manual.log sh manual.sh)
    fi
    [ "$(echo "$line" | field exit)" = 0 ] || { echo "$contender failed" >&2; exit 1; }
    echo "$rep $contender $(echo "$line" | field wall_seconds) $(echo "$line" | field peak_rss_kib)" >>results
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

figure() { awk -v c="$1" -v n="$2" '$2 == c { print $n }' results | median; }
ratio=$(awk '$2 == "uipcheck" { u[$1] = $3 } $2 == "manual" { m[$1] = $3 }
  END { for (r in u) print u[r] / m[r] }' results | median)
rounds=$(awk '$2 == "uipcheck" { u[$1] = $3 } $2 == "manual" { m[$1] = $3 }
  END { for (r = 1; r in u; r++) printf "%.3f/%.3f ", u[r], m[r] }' results)
archive_bytes=$(xargs -d '\n' du -cb <archives.txt | tail -1 | cut -f1)
echo
echo "== uipcheck (median of $reps; load average before $load_before, after $load_after)"
echo "package: $(find pkg -type f | wc -l) files, $(du -sm pkg | cut -f1) MiB;" \
  "packed: $(wc -l <archives.txt) archives of $((archive_bytes / 1048576)) MiB," \
  "$(wc -l <untouched.txt) untouched files; threads: $(nproc)"
tail -1 check.log
awk -v u="$(figure uipcheck 3)" -v m="$(figure manual 3)" -v a="$(figure alone 3)" \
  -v r="$ratio" -v rounds="$rounds" -v rss="$(figure uipcheck 4)" -v arss="$(figure alone 4)" \
  'BEGIN {
    printf "uipcheck SRC DST   %.3f s, peak RSS %.1f MiB (target < 64 MiB)\n", u, rss / 1024
    printf "7zz t + cmp        %.3f s\n", m
    printf "ratio per round    %.2f (target <= 1.5); rounds, uipcheck/manual seconds: %s\n", r, rounds
    printf "uipcheck DST       %.3f s, peak RSS %.1f MiB\n", a, arss / 1024
  }'
