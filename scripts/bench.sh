#!/usr/bin/env bash
# Usage: scripts/bench.sh [REPETITIONS [BENCHMARK OPTIONS...]]   (default 5)
#
# Installs what is missing, builds and runs the benchmarks in bench/, each
# REPETITIONS times in one process per program (a subject and its baseline
# in the same run), and prints the README's tables: every figure the median
# of the repetitions with their spread (min-max), a ratio taken repetition by
# repetition. Google Benchmark's own report goes to standard error; the JSON
# of each program is kept in $Q274_BENCH_OUT when that is set. A few minutes
# on two cores. Then the MQTT client beside mosquitto_pub (scripts/lib/bench-mqtt.py).
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-5}
[[ $reps =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [REPETITIONS [BENCHMARK OPTIONS...]]" >&2; exit 2; }
[ $# -gt 0 ] && shift
scripts/deps.sh
dir=$(scripts/build.sh | tail -n 1)
out=${Q274_BENCH_OUT:-}
if [ -z "$out" ]; then
  out=$(mktemp -d "${TMPDIR:-/tmp}/q274-bench.XXXXXX")
  trap 'rm -rf "$out"' EXIT
fi
mkdir -p "$out"
for b in q274_bench q274_bench_chart q274_bench_save q274_bench_logview q274_bench_history; do
  echo "running $b" >&2
  "$dir/bin/$b" --benchmark_min_time=0.1 --benchmark_repetitions="$reps" \
    --benchmark_out="$out/$b.json" --benchmark_out_format=json "$@" >&2
done
python3 scripts/lib/bench-table.py "$out"
# Publishing to MQTT beside a bare mosquitto_pub (its own broker, a minute or so).
python3 scripts/lib/bench-mqtt.py "$dir" "$reps"
