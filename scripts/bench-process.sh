#!/usr/bin/env bash
# Usage: scripts/bench-process.sh [SECONDS [ROUNDS [RUNS]]]   (default 12, 5 and 1)
#
# What the whole process costs while it polls the board, next to the bare
# poll loop (build/bin/q274-poll-loop, no Qt, no threads) on the same
# schedule: CPU %, context switches per second (voluntary + involuntary,
# summed over all threads from /proc/PID/task/*/status), resident memory,
# and how punctually the board receives the commands (from the simulator's
# --trace receive times): how far each command lands from the 75 ms sender
# grid (its phase taken as the median), and how far the gaps between
# consecutive rotation queries (T1..T4) are from 900 ms; p50/p99/max of the
# error in ms.
#
# The program runs in its own X server (Xvfb, no window manager) and gets
# Ctrl+N (Connect); the poll loop runs against its own simulator at the same
# time, so both are measured over the same windows of SECONDS and see the
# same machine. ROUNDS windows idle, then ROUNDS with the other core loaded
# (a busy "yes > /dev/null"); the program is also measured unconnected for
# ROUNDS windows of 2 s. Every figure printed is the median of its windows
# with their spread (min-max); a ratio is taken window by window. About
# 2 x ROUNDS x SECONDS + 2 x ROUNDS + 20 s a run. With RUNS above 1 the whole
# measurement is repeated, program, loop and X server started afresh each
# time, and the figures pool the windows of all runs: a machine's speed
# changes more between runs than between the windows of one.
#
# With Q274_BENCH_OUT set (and RUNS above 1) the pooled windows are kept
# in that folder. The build tree is build/ (built when a program is missing) or
# $Q274_BUILD_DIR. Timings taken while other work runs are noisy.
set -euo pipefail
cd "$(dirname "$0")/.."

secs=${1:-12} rounds=${2:-5} runs=${3:-1}
if ! [[ $secs =~ ^[0-9]+$ && $rounds =~ ^[0-9]+$ && $runs =~ ^[0-9]+$ ]] || [ "$secs" -lt 5 ] ||
  [ "$rounds" -lt 1 ] || [ "$runs" -lt 1 ]; then
  echo "usage: $0 [SECONDS >= 5 [ROUNDS >= 1 [RUNS >= 1]]]" >&2
  exit 2
fi
if [ "$runs" -gt 1 ]; then
  if [ -n "${Q274_BENCH_OUT:-}" ]; then
    mkdir -p "$Q274_BENCH_OUT"
    pooled=$(mktemp "$Q274_BENCH_OUT/windows.XXXXXX")
  else
    pooled=$(mktemp "${TMPDIR:-/tmp}/q274-windows.XXXXXX")
    trap 'rm -f "$pooled"' EXIT
  fi
  for run in $(seq "$runs"); do
    echo "run $run of $runs" >&2
    Q274_BENCH_WINDOWS=$pooled scripts/bench-process.sh "$secs" "$rounds" >/dev/null
  done
  echo "measured in $runs runs, each with windows of ${secs} s, $rounds idle and $rounds loaded, program and poll loop side by side"
  python3 scripts/lib/bench-table.py --process "$pooled"
  exit
fi
for tool in Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/deps.sh" >&2; exit 1; }
done

build=${Q274_BUILD_DIR:-build}
if [ ! -x "$build/bin/Q274TCstd" ] || [ ! -x "$build/bin/q274-board-sim" ] || [ ! -x "$build/bin/q274-poll-loop" ]; then
  if [ "$build" != build ]; then
    echo "no programs in $build/bin" >&2
    exit 1
  fi
  [ -f build/build.ninja ] || cmake --preset default >&2
  cmake --build build -j "$(nproc)" -t Q274TCstd q274-board-sim q274-poll-loop >&2
fi
program=$(realpath "$build/bin/Q274TCstd")
sim=$(realpath "$build/bin/q274-board-sim")
loop=$(realpath "$build/bin/q274-poll-loop")

work=$(mktemp -d "${TMPDIR:-/tmp}/q274-bench.XXXXXX")
xvfb_pid='' prog_sim='' loop_sim='' prog_pid='' loop_pid='' load_pid=''
stop() { # PID...: ends and reaps the given processes (SIGKILL after 5 s)
  local p i
  for p in "$@"; do
    [ -z "$p" ] || kill "$p" 2>/dev/null || true
  done
  for p in "$@"; do
    for i in $(seq 50); do
      [ -n "$p" ] && kill -0 "$p" 2>/dev/null || break
      sleep 0.1
    done
    if [ -n "$p" ] && kill -0 "$p" 2>/dev/null; then
      echo "process $p did not end on SIGTERM within 5 s: killed" >&2
      kill -9 "$p" 2>/dev/null || true
    fi
  done
  for p in "$@"; do
    [ -z "$p" ] || wait "$p" 2>/dev/null || true
  done
}
cleanup() {
  stop "$prog_pid" "$loop_pid" "$prog_sim" "$loop_sim" "$load_pid" "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

. scripts/lib/private-x.sh
start_private_x "$work"

start_sim() { # NAME: a simulator on $work/NAME-link tracing to $work/NAME.trace; sets sim_pid
  rm -f "$work/$1-link" "$work/$1.trace"
  "$sim" --link "$work/$1-link" --trace "$work/$1.trace" >"$work/$1-sim.out" 2>&1 </dev/null &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -L "$work/$1-link" ] && [ -s "$work/$1-sim.out" ] && return 0
    sleep 0.1
  done
  echo "the simulator did not start" >&2
  exit 1
}
wait_polling() { # TRACE: until the rotation has begun
  for _ in $(seq 200); do
    grep -q ' RX T1$' "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "no polling seen in $1" >&2
  exit 1
}

# CPU nanoseconds and context switches of all threads of PID.
sample() {
  local t cpu=0 cs=0 v
  for t in /proc/"$1"/task/*; do
    v=$(awk '{ print $1 }' "$t/schedstat" 2>/dev/null) && cpu=$((cpu + v))
    v=$(awk '/^(non)?voluntary_ctxt_switches:/ { s += $2 } END { print s + 0 }' "$t/status" 2>/dev/null) \
      && cs=$((cs + v))
  done
  echo "$cpu $cs"
}
# SECONDS PID...: a line "cpu% cs/s rss_kB" for each PID, all over the same SECONDS
measure() {
  local secs=$1 p t0 t1 i=0
  shift
  local -a a b
  for p in "$@"; do a+=("$(sample "$p")"); done
  t0=$(date +%s%N)
  sleep "$secs"
  for p in "$@"; do b+=("$(sample "$p")"); done
  t1=$(date +%s%N)
  for p in "$@"; do
    awk -v a="${a[$i]}" -v b="${b[$i]}" -v t0="$t0" -v t1="$t1" -v rss="$(awk '/^VmRSS:/ { print $2 }' /proc/"$p"/status)" 'BEGIN {
      split(a, x, " "); split(b, y, " "); dt = (t1 - t0) / 1e9
      printf "%.4f %.2f %d\n", 100 * (y[1] - x[1]) / 1e9 / dt, (y[2] - x[2]) / dt, rss }'
    i=$((i + 1))
  done
}
# TRACE FROM TO: "p50 p99 max" of the 75 ms grid error and of the 900 ms
# rotation error, for the commands received in lines FROM+1..TO of TRACE.
timing() {
  sed -n "$(($2 + 1)),$3p" "$1" | awk '$2 == "RX" { print $1, $3 }' >"$work/rx"
  local grid rot
  # Each command's offset from the sender grid, whose phase is the median
  # offset of all of them.
  local wrap='function wrap(x) { return x - 75 * int(x / 75 + (x < 0 ? -0.5 : 0.5)) }'
  awk "$wrap"' NR == 1 { t0 = $1 } { print wrap($1 - t0) }' "$work/rx" >"$work/offsets"
  local phase
  phase=$(sort -n "$work/offsets" | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : 0 }')
  grid=$(awk -v m="$phase" "$wrap"' { e = wrap($1 - m); print (e < 0 ? -e : e) }' "$work/offsets" | sort -n)
  rot=$(awk '$2 ~ /^T[1-4]$/ { if (n++) { e = $1 - p - 900; print (e < 0 ? -e : e) } p = $1 }' "$work/rx" | sort -n)
  pct() { awk -v q="$1" '{ v[NR] = $1 } END { if (!NR) { print "-"; exit } i = int(q * NR + 0.999); if (i < 1) i = 1; print v[i] }'; }
  echo "$(pct 0.5 <<<"$grid") $(pct 0.99 <<<"$grid") $(pct 1 <<<"$grid") $(pct 0.5 <<<"$rot") $(pct 0.99 <<<"$rot") $(pct 1 <<<"$rot")"
}

title="Veltrona - Q274 Temperature Controller Standard"
start_sim prog
prog_sim=$sim_pid
"$program" --port "$work/prog-link" </dev/null >"$work/program.log" 2>&1 &
prog_pid=$!
win=''
for _ in $(seq 300); do
  win=$(xdotool search --onlyvisible --pid "$prog_pid" --name "^$title\$" 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "the program's window did not show" >&2; exit 1; }
sleep 3
echo "measuring: the program unconnected, $rounds x 2 s" >&2
for _ in $(seq "$rounds"); do
  echo "unconnected $(measure 2 "$prog_pid")" >>"$work/windows"
done

# Focus first: without a window manager Qt ignores keys sent to an unfocused window.
xdotool windowfocus --sync "$win" key ctrl+n
start_sim loop
loop_sim=$sim_pid
"$loop" "$work/loop-link" </dev/null >"$work/loop.log" 2>&1 &
loop_pid=$!
wait_polling "$work/prog.trace"
wait_polling "$work/loop.trace"
sleep 2

for label in idle loaded; do
  if [ "$label" = loaded ]; then
    yes >/dev/null &
    load_pid=$!
    sleep 1
  fi
  echo "measuring: $label, program and poll loop together, $rounds x ${secs} s" >&2
  for _ in $(seq "$rounds"); do
    pf=$(wc -l <"$work/prog.trace") lf=$(wc -l <"$work/loop.trace")
    measure "$secs" "$prog_pid" "$loop_pid" >"$work/m"
    pt=$(wc -l <"$work/prog.trace") lt=$(wc -l <"$work/loop.trace")
    echo "$label program $(sed -n 1p "$work/m") $(timing "$work/prog.trace" "$pf" "$pt")" >>"$work/windows"
    echo "$label loop $(sed -n 2p "$work/m") $(timing "$work/loop.trace" "$lf" "$lt")" >>"$work/windows"
  done
  if [ -n "$load_pid" ]; then
    stop "$load_pid"
    load_pid=''
  fi
done

[ -z "${Q274_BENCH_WINDOWS:-}" ] || cat "$work/windows" >>"$Q274_BENCH_WINDOWS"
echo "measured in windows of ${secs} s, $rounds idle and $rounds loaded, program and poll loop side by side"
python3 scripts/lib/bench-table.py --process "$work/windows"
