#!/usr/bin/env bash
# Usage: scripts/bench-process.sh [SECONDS]   (default 60)
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
# The program runs in its own X server (Xvfb, no window manager), gets
# Ctrl+N (Connect) and is measured for SECONDS once connected and polling;
# the poll loop runs against its own simulator for as long. Both are
# measured once on an idle machine and once with the other core loaded
# (a busy "yes > /dev/null"). The program is also measured for 10 s before
# it connects. About 4 x SECONDS + 40 s in all.
#
# The build tree is build/ (built when a program is missing) or
# $Q274_BUILD_DIR. Timings taken while other work runs are noisy.
set -euo pipefail
cd "$(dirname "$0")/.."

secs=${1:-60}
if ! [[ $secs =~ ^[0-9]+$ ]] || [ "$secs" -lt 5 ]; then
  echo "usage: $0 [SECONDS >= 5]" >&2
  exit 2
fi
for tool in Xvfb xdotool; do
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
xvfb_pid='' sim_pid='' prog_pid='' load_pid=''
stop() { # PID...: ends and reaps the given processes
  local p
  for p in "$@"; do
    [ -z "$p" ] || kill "$p" 2>/dev/null || true
  done
  for p in "$@"; do
    [ -z "$p" ] || wait "$p" 2>/dev/null || true
  done
}
cleanup() {
  stop "$prog_pid" "$sim_pid" "$load_pid" "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

. scripts/lib/private-x.sh
start_private_x "$work"

start_sim() { # NAME: a simulator on $work/NAME-link tracing to $work/NAME.trace
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
# PID SECONDS: "cpu% cs/s rss_kB" over SECONDS
measure() {
  local a b t0 t1
  a=$(sample "$1")
  t0=$(date +%s%N)
  sleep "$2"
  b=$(sample "$1")
  t1=$(date +%s%N)
  local rss
  rss=$(awk '/^VmRSS:/ { print $2 }' /proc/"$1"/status)
  awk -v a="$a" -v b="$b" -v t0="$t0" -v t1="$t1" -v rss="$rss" 'BEGIN {
    split(a, x, " "); split(b, y, " "); dt = (t1 - t0) / 1e9
    printf "%.3f %.1f %d\n", 100 * (y[1] - x[1]) / 1e9 / dt, (y[2] - x[2]) / dt, rss }'
}
# TRACE FROM: "p50 p99 max" of the 75 ms grid error and of the 900 ms
# rotation error, for the commands received after line FROM of TRACE.
timing() {
  tail -n +"$(($2 + 1))" "$1" | awk '$2 == "RX" { print $1, $3 }' >"$work/rx"
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

measure_polling() { # NAME LABEL: once NAME's board is polled, measures $prog_pid and ends the run
  wait_polling "$work/$1.trace"
  sleep 2
  local from
  from=$(wc -l <"$work/$1.trace")
  measure "$prog_pid" "$secs" >"$work/$2-$1"
  timing "$work/$1.trace" "$from" >>"$work/$2-$1"
  stop "$prog_pid" "$sim_pid"
  prog_pid='' sim_pid=''
}

title="Veltrona - Q274 Temperature Controller Standard"
run_program() { # LABEL: measures the program; the first run also measures it unconnected
  start_sim prog
  "$program" --port "$work/prog-link" </dev/null >"$work/program.log" 2>&1 &
  prog_pid=$!
  local win=''
  for _ in $(seq 300); do
    win=$(xdotool search --onlyvisible --pid "$prog_pid" --name "^$title\$" 2>/dev/null | head -n 1 || true)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || { echo "the program's window did not show" >&2; exit 1; }
  if [ ! -s "$work/unconnected" ]; then
    sleep 3
    measure "$prog_pid" 10 >"$work/unconnected"
  fi
  # Focus first: without a window manager Qt ignores keys sent to an unfocused window.
  xdotool windowfocus --sync "$win" key ctrl+n
  measure_polling prog "$1"
}
run_loop() { # LABEL
  start_sim loop
  "$loop" "$work/loop-link" </dev/null >"$work/loop.log" 2>&1 &
  prog_pid=$!
  measure_polling loop "$1"
}

for label in idle loaded; do
  if [ "$label" = loaded ]; then
    yes >/dev/null &
    load_pid=$!
  fi
  echo "measuring: $label, program for ${secs} s" >&2
  run_program "$label"
  echo "measuring: $label, poll loop for ${secs} s" >&2
  run_loop "$label"
  if [ -n "$load_pid" ]; then
    stop "$load_pid"
    load_pid=''
  fi
done

report() { # LABEL
  local p l
  p=$(tr '\n' ' ' <"$work/$1-prog")
  l=$(tr '\n' ' ' <"$work/$1-loop")
  awk -v label="$1" -v p="$p" -v l="$l" 'BEGIN {
    split(p, a, " "); split(l, b, " ")
    name[1] = "CPU %"; name[2] = "context switches/s"; name[3] = "RSS kB"
    for (i = 1; i <= 3; ++i)
      printf "%-7s %-32s %12s %12s %8s\n", label, name[i], a[i], b[i], (b[i] > 0 ? sprintf("%.2f", a[i] / b[i]) : "-")
    split("75 ms grid error ms|900 ms rotation error ms", what, "|")
    for (j = 0; j < 2; ++j) {
      o = 4 + 3 * j
      printf "%-7s %-32s %12s %12s %8s\n", label, what[j + 1] " p50/p99/max", a[o] "/" a[o + 1] "/" a[o + 2],
        b[o] "/" b[o + 1] "/" b[o + 2], (b[o + 1] > 0 ? sprintf("%.2f", a[o + 1] / b[o + 1]) : "-")
    }
  }'
}
echo "measured for ${secs} s each; ratio = program / poll loop (p99 for the timing rows)"
printf '%-7s %-32s %12s %12s %8s\n' "" "" Q274TCstd poll-loop ratio
report idle
report loaded
read -r cpu cs rss <"$work/unconnected"
printf 'not connected (program, 10 s): CPU %s %%, %s context switches/s, RSS %s kB\n' "$cpu" "$cs" "$rss"
