#!/usr/bin/env bash
# Installs what is missing, builds, starts the board simulator on a
# pseudo-terminal and opens the program on it. The simulator stops when the
# program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
dir=$(scripts/build.sh | tail -n 1)
link="${TMPDIR:-/tmp}/q274-sim-$(id -u)"
"$dir/bin/q274-board-sim" --link "$link" --time-scale 10 > "$dir/sim.out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "Board simulator on $(head -n 1 "$dir/sim.out") (link $link)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running the program under Xvfb."
  xvfb-run -a "$dir/bin/Q274TCstd" --port "$link"
else
  "$dir/bin/Q274TCstd" --port "$link"
fi
