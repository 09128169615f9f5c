#!/usr/bin/env bash
# Packs and unpacks a generated package of about 200 MB (2,000 scripts, 200 resource
# subdirectories, 20,000 small files) with uippack, and runs the bare sequence of the same work
# as a plain shell script for comparison (`cp -RL` for uippack's own tree copy, then the same
# tool commands); then times uippack's tree copy alone next to `cp -RL`, each followed by sync,
# and the two destination walks over a 200,000-entry tree next to find(1).
#
#   bench/pipeline_bench.sh [BUILD_DIR] [REPS]
#
# BUILD_DIR defaults to build/ (configured if missing); REPS (default 1) repeats the pack and
# unpack comparisons, alternating which of the two goes first. The scratch data (about 1 GB at
# its peak) goes to a new directory under $TMPDIR (default /tmp), never into the repository;
# set KEEP=1 to keep it.
#
# uippack runs with bench/libpipeline_probe.so preloaded (see pipeline_probe.cc): it records
# the commands uippack starts, from which the bare script is made, the wall time spent waiting
# for the tools, parts of uippack's own time, and its own CPU time and peak RSS. The bare script
# runs under sh and has no container step: wrapping and unwrapping layout.uip is uippack's own
# work and counts as such, like the copy.
set -euo pipefail
reps=${2:-1}
seed=20240601
# shellcheck source=bench/lib.sh
. "$(dirname "$0")/lib.sh"
bench_setup "${1:-}" uippack-pipeline-bench uippack ScriptStager make_package walk_bench copy_bench \
  pipeline_probe
bin=$build/bin
probe=$build/bench/libpipeline_probe.so

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The detached removals outlive the run; wait for them so that one measurement does not pay
# for the previous one, then write back what is dirty for the same reason.
settle_pack() {
  while [ -n "$(find "$1" -type d \( -name layout -o -path '*/res/*' \) -print -quit)" ]; do
    sleep 0.1
  done
  sync
}
settle_unpack() {
  while [ -n "$(find "$1" -type f \( -name '*.zip' -o -name '*.uip' \) -print -quit)" ]; do
    sleep 0.1
  done
  sync
}

# The bare script: the copy, then every command uippack started, in its order; the detached
# ones with "&", all awaited at the end. It runs under sh (dash on Debian), whose forks cost less
# than bash's.
make_script() {
  {
    echo "cd '$scratch' && cp -RL '$3' '$4'"
    awk -F '\t' '$1 == "run" { print $2 } $1 == "start" { print $2 " &" }' "$1"
    echo "wait"
  } >"$2"
}

echo "== generating (seed $seed)"
"$build/bench/make_package" package pkg --seed "$seed"
"$build/bench/make_package" walk-tree walk --entries 200000 --seed "$seed"
find pkg -type f -exec cat {} + >/dev/null  # warm the page cache for both contenders
sync

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=$scratch/results
: >"$results"

# run_uippack NAME OPTION SOURCE DESTINATION: one probed run, its figures appended to results.
run_uippack() {
  local name=$1 option=$2 source=$3 destination=$4
  rm -f "$name.commands" "$name.report"
  local start end
  start=$(now)
  LD_PRELOAD=$probe UIPPACK_PROBE_REPORT=$scratch/$name.report \
    UIPPACK_PROBE_COMMANDS=$scratch/$name.commands \
    "$bin/uippack" "$option" "$source" "$destination" >"$name.uippack.log" 2>&1 || {
    echo "uippack $option failed, see $name.uippack.log" >&2
    tail -5 "$name.uippack.log" >&2
    exit 1
  }
  end=$(now)
  echo "$name uippack_wall $(elapsed "$start" "$end")" >>"$results"
  while read -r key number; do echo "$name $key $number" >>"$results"; done <"$name.report"
}

run_script() {
  local name=$1
  local start end
  start=$(now)
  sh "$name.sh" >"$name.script.log" 2>&1
  end=$(now)
  echo "$name script_wall $(elapsed "$start" "$end")" >>"$results"
}

for ((rep = 1; rep <= reps; rep++)); do
  echo "== round $rep of $reps (load $(cut -d' ' -f1-3 /proc/loadavg))"
  # Pack: the uippack output becomes the shipped tree that both unpacks start from.
  for contender in $([ $((rep % 2)) = 1 ] && echo "uippack script" || echo "script uippack"); do
    rm -rf packed
    sync
    if [ "$contender" = uippack ]; then
      run_uippack pack -p pkg packed
      [ -f pack.sh ] || make_script pack.commands pack.sh pkg packed
      settle_pack packed
      rm -rf shipped
      mv packed shipped
    else
      run_script pack
      settle_pack packed
    fi
  done
  rm -rf packed
  for contender in $([ $((rep % 2)) = 1 ] && echo "uippack script" || echo "script uippack"); do
    rm -rf unpacked
    sync
    if [ "$contender" = uippack ]; then
      run_uippack unpack -u shipped unpacked
      [ -f unpack.sh ] || make_script unpack.commands unpack.sh shipped unpacked
    else
      run_script unpack
    fi
    settle_unpack unpacked
  done
  rm -rf unpacked
  # The copy alone, both contenders writing a fresh tree and syncing it.
  for contender in $([ $((rep % 2)) = 1 ] && echo "uippack cp" || echo "cp uippack"); do
    rm -rf copied
    sync
    start=$(now)
    if [ "$contender" = uippack ]; then "$build/bench/copy_bench" pkg copied; else cp -RL pkg copied; fi
    sync
    end=$(now)
    echo "copy ${contender}_wall $(elapsed "$start" "$end")" >>"$results"
  done
  rm -rf copied
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

largest_layout=$(find shipped -name layout.zip -printf '%s\n' | sort -n | tail -1)
figure() { awk -v n="$1" -v k="$2" '$1 == n && $2 == k { print $3 }' "$results" | median; }

echo
echo "== pipeline (median of $reps; load average before $load_before, after $load_after)"
echo "package: $(find pkg -type f | wc -l) files, $(du -sm pkg | cut -f1) MiB;" \
  "largest layout archive $((largest_layout / 1024)) KiB"
for name in pack unpack; do
  wall=$(figure "$name" uippack_wall)
  script=$(figure "$name" script_wall)
  children=$(figure "$name" children_wall_seconds)
  user=$(figure "$name" self_user_seconds)
  system=$(figure "$name" self_system_seconds)
  child_cpu=$(awk -v a="$(figure "$name" children_user_seconds)" \
    -v b="$(figure "$name" children_system_seconds)" 'BEGIN { print a + b }')
  rss=$(figure "$name" self_peak_rss_kib)
  copy=$(figure "$name" own_before_first_tool_seconds)
  # Rounds are paired (the two contenders run back to back), so the ratio is taken per round:
  # on a shared machine the load drifts more between rounds than within one.
  rounds=$(awk -v n="$name" '$1 == n && $2 == "uippack_wall" { u[++i] = $3 }
    $1 == n && $2 == "script_wall" { s[++j] = $3 }
    END { for (k = 1; k <= i; k++) printf "%.2f/%.2f ", u[k], s[k] }' "$results")
  ratio=$(awk -v n="$name" '$1 == n && $2 == "uippack_wall" { u[++i] = $3 }
    $1 == n && $2 == "script_wall" { s[++j] = $3 }
    END { for (k = 1; k <= i; k++) print u[k] / s[k] }' "$results" | median)
  awk -v name="$name" -v wall="$wall" -v script="$script" -v children="$children" \
    -v ratio="$ratio" -v rounds="$rounds" -v copy="$copy" \
    -v user="$user" -v sys="$system" -v childcpu="$child_cpu" -v rss="$rss" \
    -v layout="$largest_layout" 'BEGIN {
      own = wall - children
      limit = (2 * layout + 16 * 1048576) / 1024
      printf "%s:\n", name
      printf "  wall %.2f s, bare script %.2f s; ratio per round %.3f (target <= 1.05)\n", wall, script, ratio
      printf "  rounds, uippack/script seconds: %s\n", rounds
      printf "  in the tools (awaited) %.2f s; own time %.3f s = %.2f%% of the run\n", children, own, 100 * own / wall
      printf "  own time besides the copy and the walk %.3f s = %.2f%% of the run (target < 2%%)\n", own - copy, 100 * (own - copy) / wall
      printf "  own CPU %.3f s (user %.3f, system %.3f) = %.2f%% of the run; tools CPU %.2f s\n", user + sys, user, sys, 100 * (user + sys) / wall, childcpu
      printf "  peak RSS %.1f MiB (target < 2 x largest layout archive + 16 MiB = %.1f MiB)\n", rss / 1024, limit / 1024
    }'
  echo "  per tool (awaited), and parts of the own time (mean of the rounds):"
  awk -v n="$name" '$1 == n && $2 ~ /^(tool|own)_.*_seconds$/ { s[$2] += $3; c[$2]++ }
    $1 == n && $2 ~ /^(tool|own)_.*_(runs|calls)$/ { r[$2] = $3 }
    END { for (k in s) { t = k; sub(/_seconds$/, "", t); u = t; sub(/^(tool|own)_/, "", u)
      printf "    %-4s %-16s %8.3f s %6d times\n", (t ~ /^own/ ? "own" : "tool"), u, s[k] / c[k],
        r[t "_runs"] + r[t "_calls"] } }' "$results" | sort
done

copy_ratio=$(awk '$1 == "copy" && $2 == "uippack_wall" { u[++i] = $3 }
  $1 == "copy" && $2 == "cp_wall" { c[++j] = $3 }
  END { for (k = 1; k <= i; k++) print u[k] / c[k] }' "$results" | median)
echo "copy (each followed by sync):"
echo "  uippack's copy $(figure copy uippack_wall) s, cp -RL $(figure copy cp_wall) s;" \
  "ratio per round $copy_ratio (target <= 1.1)"

echo
"$build/bench/walk_bench" walk 5
