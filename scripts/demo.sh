#!/usr/bin/env bash
# Installs what is missing, builds, starts the board simulator on a
# pseudo-terminal and opens the program on it. The simulator stops when the
# program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
# The demo is a window to look at; without a desktop it would only run
# unseen, so say so before installing or building anything.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "scripts/demo.sh opens a window and needs a graphical desktop, but no display" >&2
  echo "was found (neither DISPLAY nor WAYLAND_DISPLAY is set). Run it from a terminal" >&2
  echo "in your desktop session. To build and test without a display: scripts/test.sh" >&2
  exit 1
fi
scripts/deps.sh
dir=$(scripts/build.sh | tail -n 1)
link="${TMPDIR:-/tmp}/q274-sim-$(id -u)"
"$dir/bin/q274-board-sim" --link "$link" --time-scale 10 > "$dir/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "Board simulator on $(head -n 1 "$dir/sim.out") (link $link)"
"$dir/bin/Q274TCstd" --port "$link"
