#!/usr/bin/env bash
# Configures and builds one build tree through its preset (CMakePresets.json):
# build/ by default, build-asan/ or build-tsan/ with --sanitize address|thread.
# The last line of output is the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
if [ "${1:-}" = "--sanitize" ]; then
  case "${2:-}" in
    address) preset=asan ;;
    thread) preset=tsan ;;
    *) echo "usage: $0 [--sanitize address|thread]" >&2; exit 2 ;;
  esac
fi
# CI treats a warning as an error; a developer's build only shows it.
werror=OFF; [ "${CI:-}" = true ] && werror=ON
# Q274_PCH=ON precompiles the common headers: a clean build (CI) takes about
# half the time; with ccache an incremental one gains nothing.
cmake --preset "$preset" -DQ274_WERROR="$werror" -DQ274_PCH="${Q274_PCH:-OFF}" >&2
cmake --build --preset "$preset" -j "$(nproc)" >&2
if [ "$preset" = default ]; then echo build; else echo "build-$preset"; fi
