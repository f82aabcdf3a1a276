#!/usr/bin/env bash
# Configures and builds one build tree: build/ by default, build-asan/ or
# build-tsan/ with --sanitize address|thread.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build; args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir="build-${2:0:1}san"; [ "$2" = address ] && dir=build-asan; [ "$2" = thread ] && dir=build-tsan
  args=(-DCMAKE_BUILD_TYPE=Debug -DSANITIZE="$2")
fi
cmake -S . -B "$dir" -G Ninja "${args[@]}" >&2
cmake --build "$dir" -j "$(nproc)" >&2
echo "$dir"
