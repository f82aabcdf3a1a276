#!/usr/bin/env bash
# Usage: scripts/soak.sh MINUTES
#
# Runs the program (in a private X server) against the board simulator for
# MINUTES with faults in turns: every simulator round ends in a hang-up and
# the simulator is made again on the same link; rounds bring garbage lines,
# a channel reading "ERR", a board that falls silent, or a hang-up in the
# middle of the conversation. Whenever the program does not hold the current
# device open it gets Ctrl+N (Connect), as a user would press it.
#
# Once a minute it prints the program's resident memory, threads, open file
# descriptors, CPU seconds, the log text written so far (its journal) and
# the commands the simulator answered (TX lines of its traces); at the end a
# summary line. Exit status 1 when the program dies or stops answering.
#
# The build tree is build/ (made with scripts/build.sh when the programs are
# missing) or $Q274_BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-}
if ! [[ $minutes =~ ^[0-9]+$ ]] || [ "$minutes" -lt 1 ]; then
  echo "usage: $0 MINUTES" >&2
  exit 2
fi
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/deps.sh" >&2; exit 1; }
done

build=${Q274_BUILD_DIR:-build}
if [ ! -x "$build/bin/Q274TCstd" ] || [ ! -x "$build/bin/q274-board-sim" ]; then
  if [ "$build" != build ]; then
    echo "no programs in $build/bin" >&2
    exit 1
  fi
  build=$(scripts/build.sh | tail -n 1)
fi
program=$(realpath "$build/bin/Q274TCstd")
sim=$(realpath "$build/bin/q274-board-sim")

work=$(mktemp -d "${TMPDIR:-/tmp}/q274-soak.XXXXXX")
link=$work/board
xvfb_pid='' sim_pid='' prog_pid=''
cleanup() {
  for p in $prog_pid $sim_pid $xvfb_pid; do
    kill "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

. scripts/lib/private-x.sh
start_private_x "$work"

# ------------------------------------------------------------ the simulator
round=0 answered_done=0 device='' trace=''
# The faults, in turns; each round also hangs up after 45 s at the latest.
faults() {
  case $(($1 % 5)) in
    0) echo "" ;;
    1) echo "--garbage-every 5" ;;
    2) echo "--bad-value 3" ;;
    3) echo "--silent-after 25" ;;       # then silence: the program's watchdog drops it
    4) echo "--hangup-after-replies 30" ;; # lost in mid-conversation
  esac
}
start_sim() {
  round=$((round + 1))
  trace=$work/trace-$round.txt
  # shellcheck disable=SC2046 # the fault options are words
  "$sim" --link "$link" --trace "$trace" --time-scale 10 --hangup-after 45 $(faults "$round") \
    >"$work/sim.out" 2>>"$work/sim.err" </dev/null &
  sim_pid=$!
  device=
  for _ in $(seq 100); do
    device=$(head -n 1 "$work/sim.out" 2>/dev/null || true)
    [ -n "$device" ] && [ -L "$link" ] && return 0
    sleep 0.1
  done
  echo "the simulator did not start" >&2
  exit 1
}
tx_count() { awk '$2 == "TX"' "$1" 2>/dev/null | wc -l; }
answered() { echo $((answered_done + $(tx_count "$trace"))); }

# -------------------------------------------------------------- the program
start_sim
"$program" --port "$link" </dev/null >"$work/program.log" 2>&1 &
prog_pid=$!
title="Veltrona - Q274 Temperature Controller Standard"
main_window=
for _ in $(seq 300); do
  main_window=$(xdotool search --onlyvisible --pid "$prog_pid" --name "^$title\$" 2>/dev/null | head -n 1 || true)
  [ -n "$main_window" ] && break
  sleep 0.1
done
[ -n "$main_window" ] || { echo "the program's window did not show" >&2; exit 1; }

holds_device() { # the program has the current simulator device open
  local fd
  for fd in /proc/"$prog_pid"/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$device" ] && return 0
  done
  return 1
}
presses=0 dismissed=0
press_connect() {
  # An unexpected box (a port that vanished while opening) would take the
  # key presses: close it first.
  local w
  for w in $(xdotool search --onlyvisible --pid "$prog_pid" 2>/dev/null || true); do
    if [ "$w" != "$main_window" ]; then
      xdotool windowfocus --sync "$w" key Return 2>/dev/null || true
      dismissed=$((dismissed + 1))
    fi
  done
  # Focus first: without a window manager Qt ignores keys sent to an unfocused window.
  xdotool windowfocus --sync "$main_window" key ctrl+n 2>/dev/null || true
  presses=$((presses + 1))
}

clk=$(getconf CLK_TCK)
cpu_seconds() { awk -v t="$clk" '{ sub(/^.*\) /, ""); printf "%.1f", ($12 + $13) / t }' /proc/"$prog_pid"/stat; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' /proc/"$prog_pid"/status; }
threads() { awk '/^Threads:/ { print $2 }' /proc/"$prog_pid"/status; }
fds() { find /proc/"$prog_pid"/fd -mindepth 1 -maxdepth 1 | wc -l; }
log_kb() { # the journal holds every line the log view got
  local f
  f=$(find "$HOME/.local/state/q274" -name 'journal-*.log' 2>/dev/null | head -n 1)
  if [ -n "$f" ]; then echo $(($(stat -c %s "$f") / 1024)); else echo 0; fi
}
connects() { cat "$HOME"/.local/state/q274/journal-*.log 2>/dev/null | grep -c 'Q274 found' || true; }

start=$(date +%s)
end=$((start + minutes * 60))
next_report=$start
last_press=0 lost_since='' last_answered=0 last_progress=$start
rss_start='' max_threads=0 max_fds=0
printf '%-4s %9s %7s %4s %8s %7s %9s %8s %6s\n' min rss_kb threads fds cpu_s log_kb answered connects rounds
while :; do
  now=$(date +%s)
  kill -0 "$prog_pid" 2>/dev/null || { echo "the program ended unexpectedly" >&2; exit 1; }
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    wait "$sim_pid" 2>/dev/null || true
    answered_done=$((answered_done + $(tx_count "$trace")))
    start_sim
  fi
  # Not before the device has been gone for 2 s (a simulator hanging up
  # takes a moment to exit and be made again: Connect then finds no device
  # and shows an error box), nor within 3 s of the last press (an open or a
  # close takes a moment to show).
  if holds_device; then
    lost_since=''
  elif [ -z "$lost_since" ]; then
    lost_since=$now
  elif [ $((now - lost_since)) -ge 2 ] && [ $((now - last_press)) -ge 3 ] && [ -e "$link" ]; then
    press_connect
    last_press=$now
  fi
  n=$(answered)
  if [ "$n" -ne "$last_answered" ]; then
    last_answered=$n last_progress=$now
  elif [ $((now - last_progress)) -ge 180 ]; then
    echo "no command answered for 3 minutes" >&2
    exit 1
  fi
  t=$(threads) f=$(fds)
  [ "$t" -gt "$max_threads" ] && max_threads=$t
  [ "$f" -gt "$max_fds" ] && max_fds=$f
  if [ "$now" -ge "$next_report" ]; then
    r=$(rss_kb)
    [ -n "$rss_start" ] || rss_start=$r
    printf '%-4s %9s %7s %4s %8s %7s %9s %8s %6s\n' $(((now - start) / 60)) "$r" "$t" "$f" "$(cpu_seconds)" \
      "$(log_kb)" "$n" "$(connects)" "$round"
    next_report=$((next_report + 60))
  fi
  [ "$now" -ge "$end" ] && break
  sleep 1
done

elapsed=$(($(date +%s) - start))
cpu=$(cpu_seconds)
printf 'summary: %s min, RSS %s -> %s kB, max threads %s, max fds %s, answered commands %s, connects %s, ' \
  "$minutes" "$rss_start" "$(rss_kb)" "$max_threads" "$max_fds" "$(answered)" "$(connects)"
printf 'simulator rounds %s, Connect presses %s, boxes closed %s, CPU %s s (%s %%), log %s kB\n' \
  "$round" "$presses" "$dismissed" "$cpu" "$(awk -v c="$cpu" -v e="$elapsed" 'BEGIN { printf "%.2f", 100 * c / e }')" \
  "$(log_kb)"
