#!/usr/bin/env bash
# Installs what is missing, builds and runs the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=$(scripts/build.sh | tail -n 1)
"$dir/bin/q274_bench" --benchmark_min_time=0.2 "$@"
"$dir/bin/q274_bench_chart" --benchmark_min_time=0.2 "$@"
"$dir/bin/q274_bench_save" --benchmark_min_time=0.2 "$@"
"$dir/bin/q274_bench_logview" --benchmark_min_time=0.2 "$@"
