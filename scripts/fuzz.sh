#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-fuzz/ and runs
# each for SECONDS (default 30) with the dictionary, on a copy of its seed
# corpus, so fuzz/corpus/ stays as committed.
#   scripts/fuzz.sh [SECONDS]
# Prints executions, exec/s and coverage per target; exits 1 when a target
# found a crash, with the reproducer kept in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
case $seconds in '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;; esac
targets=(reply_routing reply_parsers stored_items timestamps history_lines termios profile)

scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQ274_FUZZ=ON -DQ274_TESTS=OFF -DQ274_PCH="${Q274_PCH:-OFF}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzz_all

here=$(pwd)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$here/.ci/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$here/.ci/ubsan.supp"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
artifacts=$here/build-fuzz/artifacts
# One target: its line of the summary in $work/$t.line, its findings on stdout.
run_one() {
  local t=$1 log status=0 runs rate cov ft found
  mkdir -p "$work/$t" "$artifacts/$t"
  cp fuzz/corpus/$t/* "$work/$t/"
  log=$artifacts/$t/last-run.log
  # A target that does not end on its own (a hang at exit) counts as a finding.
  timeout -k 10 $((seconds + 120)) build-fuzz/bin/fuzz_$t -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -dict=fuzz/q274.dict -artifact_prefix="$artifacts/$t/" "$work/$t" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  if [ "$status" -eq 0 ]; then
    found=none
  else
    touch "$work/failed"
    found="CRASH (exit $status): $(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)"
    grep -E 'invariant broken|runtime error|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|SUMMARY' "$log" | head -n 5 || true
    echo "   log: $log"
  fi
  printf '%-15s executions %9s  exec/s %6s  cov %4s  ft %5s  found: %s\n' \
    "$t" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$found" >"$work/$t.line"
  cat "$work/$t.line"
}
# Each target is one process on one core: as many run at once as there are
# cores, each still for its full SECONDS.
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  echo "== fuzz_$t for ${seconds}s"
  run_one "$t" &
done
wait
summary=()
for t in "${targets[@]}"; do
  if [ -s "$work/$t.line" ]; then summary+=("$(cat "$work/$t.line")"); else summary+=("$t: no result"); touch "$work/failed"; fi
done
echo
echo "Fuzzing, ${seconds}s per target:"
printf '  %s\n' "${summary[@]}"
if [ -e "$work/failed" ]; then
  echo "A target crashed; run the reproducer with build-fuzz/bin/fuzz_<target> <file>." >&2
  exit 1
fi
