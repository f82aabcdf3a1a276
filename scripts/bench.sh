#!/usr/bin/env bash
# Usage: scripts/bench.sh [REPETITIONS [RUNS [BENCHMARK OPTIONS...]]]   (default 5 and 1)
#
# Installs what is missing, builds and runs the benchmarks in bench/, each
# REPETITIONS times in one process per program (a subject and its baseline
# in the same run), the whole set RUNS times, and prints the README's tables:
# every figure the median of all repetitions of all runs with their spread
# (min-max), a ratio taken repetition by repetition. Google Benchmark's own
# report goes to standard error; the JSON of each program is kept in
# $Q274_BENCH_OUT/runN when that is set. About five minutes a run on two
# cores. Then the MQTT client beside mosquitto_pub (scripts/lib/bench-mqtt.py).
# scripts/lib/bench-check.py compares what this prints with the README.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-5} runs=${2:-1}
[[ $reps =~ ^[1-9][0-9]*$ && $runs =~ ^[1-9][0-9]*$ ]] ||
  { echo "usage: $0 [REPETITIONS [RUNS [BENCHMARK OPTIONS...]]]" >&2; exit 2; }
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
scripts/deps.sh
dir=$(scripts/build.sh | tail -n 1)
out=${Q274_BENCH_OUT:-}
if [ -z "$out" ]; then
  out=$(mktemp -d "${TMPDIR:-/tmp}/q274-bench.XXXXXX")
  trap 'rm -rf "$out"' EXIT
fi
folders=()
for run in $(seq "$runs"); do
  folder="$out/run$run"
  mkdir -p "$folder"
  folders+=("$folder")
  for b in q274_bench q274_bench_chart q274_bench_save q274_bench_logview q274_bench_history; do
    echo "run $run of $runs: $b" >&2
    "$dir/bin/$b" --benchmark_min_time=0.1 --benchmark_repetitions="$reps" \
      --benchmark_out="$folder/$b.json" --benchmark_out_format=json "$@" >&2
  done
done
python3 scripts/lib/bench-table.py "${folders[@]}"
# Publishing to MQTT beside a bare mosquitto_pub (its own broker, a minute or
# so a run); every round starts both publishers afresh.
python3 scripts/lib/bench-mqtt.py "$dir" "$((reps * runs))"
